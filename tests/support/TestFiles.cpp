#include "TestFiles.h"

#include <QFile>
#include <QProcess>

#include <zip.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace gqtest {

TempDir::TempDir() {
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

std::string TempDir::path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
}

void WriteXlsx(const std::string& path, const std::function<void(lxw_workbook*)>& fill) {
    lxw_workbook* workbook = workbook_new(path.c_str());
    if (!workbook)
        throw std::runtime_error("libxlsxwriter cannot create " + path);
    fill(workbook);
    if (workbook_close(workbook) != LXW_NO_ERROR)
        throw std::runtime_error("libxlsxwriter cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteZip(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& parts) {
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip)
        throw std::runtime_error("cannot create " + path);
    for (const auto& [name, content] : parts) {
        // libzip reads the sources when the archive closes, so they must outlive this loop.
        zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
        if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            throw std::runtime_error("cannot add " + name + " to " + path);
        }
    }
    if (zip_close(zip) != 0)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs) {
    QProcess process;
    QStringList arguments;
    for (const auto& arg : args)
        arguments << QString::fromStdString(arg);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(program), arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "timed out";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

namespace {

// Fields of a TAB-separated export: quoted fields may hold TABs, quotes (doubled) and line breaks.
std::vector<std::vector<std::string>> ParseTabSeparated(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    size_t i = 0;
    while (i < text.size()) {
        if (field.empty() && text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else if (text[i] == '"') {
                    ++i;
                    break;
                } else {
                    field += text[i++];
                }
            }
            continue;
        }
        char c = text[i++];
        if (c == '\t') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i < text.size() && text[i] == '\n')
                ++i;
            row.push_back(field);
            field.clear();
            rows.push_back(row);
            row.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

} // namespace

std::vector<ShownSheet> ReadShownExport(const std::string& shownDir) {
    std::vector<ShownSheet> sheets;
    for (const auto& line : ParseTabSeparated(ReadFile(shownDir + "/sheets.tsv"))) {
        if (line.size() < 3)
            continue;
        ShownSheet sheet;
        sheet.name = line[1];
        sheet.rows = ParseTabSeparated(ReadFile(shownDir + "/" + line[2]));
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

std::string RealFixture(const std::string& fileName) {
    std::string path = std::string(GQ_REAL_FIXTURES_DIR) + "/" + fileName;
    return QFile::exists(QString::fromStdString(path)) ? path : std::string();
}

} // namespace gqtest
