#pragma once

#include <xlsxwriter.h>

#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

namespace gqtest {

// A private folder removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    std::string path(const std::string& name) const;

private:
    QTemporaryDir dir_;
};

// Writes a real .xlsx with libxlsxwriter; `fill` adds sheets and cells.
void WriteXlsx(const std::string& path, const std::function<void(lxw_workbook*)>& fill);

void WriteFile(const std::string& path, const std::string& bytes);
// Writes a zip package from (part name, content) pairs, for hand-made and damaged workbooks.
void WriteZip(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& parts);
std::string ReadFile(const std::string& path);

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program to its end (killed after `timeoutMs`), with no standard input.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs = 60000);

// A spreadsheet program's "as shown" export of a real workbook (FILE.shown/ beside it).
struct ShownSheet {
    std::string name;
    std::vector<std::vector<std::string>> rows; // cells as shown, trailing empty cells kept
};
std::vector<ShownSheet> ReadShownExport(const std::string& shownDir);

// Path of a shared real workbook, or empty when the shared fixtures are not beside the project.
std::string RealFixture(const std::string& fileName);

} // namespace gqtest
