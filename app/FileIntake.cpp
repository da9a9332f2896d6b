#include "FileIntake.h"

#include "FileList.h"
#include "FolderWalk.h"
#include "Form1.h"
#include "Settings.h"
#include "WorkbookSearch.h"

#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace gq {

namespace {

constexpr const char* kWalkLocation = "in DorvaleTitle2021/08/31.AddFolder.GetSubDirectories2016 ";

QString SamplesFolder(const QString& programFolder) {
    return programFolder + QStringLiteral("/Samples");
}

// Adds every file of the tree under `folder` that the folder scan takes, folder by folder, so
// the list fills and the window repaints while a large tree is walked. The window is busy
// meanwhile: nothing may leave the list or move in it.
void AddTree(Form1& form, FileList& list, const QString& folder, const QString& pattern) {
    WalkHooks hooks;
    hooks.yield = [&form] { form.yieldToEvents(); };
    hooks.reportError = [&form](const std::string& description) {
        form.showErrorReport(QString::fromLatin1(kWalkLocation), 0,
                             QString::fromStdString(description));
    };
    FolderWalk walk(std::move(hooks));
    QPointer<FileList> alive(&list);
    struct Scan {
        Form1& form;
        QPointer<FileList>& list;
        Scan(Form1& form, QPointer<FileList>& list) : form(form), list(list) {
            form.folderScanStarted();
            list->beginBulkAppend();
        }
        ~Scan() {
            if (list)
                list->endBulkAppend();
            form.folderScanEnded();
        }
    } scan(form, alive);
    walk.ScanTree(folder.toStdString(), pattern.toStdString(),
                  [&](std::vector<std::string>& paths) {
                      if (!alive)
                          return;
                      QStringList texts;
                      texts.reserve(static_cast<qsizetype>(paths.size()));
                      for (const std::string& path : paths)
                          texts << QString::fromStdString(path);
                      list.appendEntries(texts);
                  });
}

} // namespace

void ConnectFileIntake(Form1& form) {
    FileList* list = form.fileList();
    list->setBusyTest([&form] { return form.busy(); });
    list->setDragPointerFile(form.programFolder() + QStringLiteral("/drag.ico"));
    list->setDropHandler([&form](const QStringList& paths) { AddDroppedPaths(form, paths); });
    const std::pair<const char*, void (*)(Form1&)> handlers[] = {
        {"PushButton1", AddExcelFiles},
        {"PushButton5", ClearFileList},
        {"PushButton6", AddAllFilesInFolder},
        {"PushButton9", LoadSampleExampleFiles},
    };
    for (const auto& [name, handler] : handlers) {
        auto* button = form.findChild<QPushButton*>(QString::fromLatin1(name));
        Q_ASSERT(button);
        QObject::connect(button, &QPushButton::clicked, &form,
                         [&form, handler = handler] { handler(form); });
    }
}

void AddExcelFiles(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton1_Click"));
    FileDialogRequest request;
    steps.run(100, [&] {
        request.fileName = QString();
        request.title = QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files");
        request.filter = QStringLiteral("Excel Files (*.xl*)|*.xl*|All Files (*.*)|*.*|");
    });
    QStringList chosen;
    steps.run(102, [&] { chosen = form.prompts().openFiles(request); });
    if (chosen.isEmpty())
        return;
    steps.run(104, [&] {
        if (chosen.size() == 1) {
            form.fileList()->appendEntry(chosen.front());
            return;
        }
        QStringList paths;
        for (const QString& path : chosen)
            paths << QString::fromStdString(NormalizePath(path.toStdString()));
        form.fileList()->appendEntries(paths);
    });
}

void ClearFileList(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton5_Click"));
    steps.run(100, [&] {
        if (!form.busy())
            form.fileList()->clear();
    });
}

void AddAllFilesInFolder(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton6_Click"));
    QString extension;
    steps.run(100, [&] {
        extension = form.prompts().input(
            QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
                           "files, doc for all doc files, etc.)"),
            form.applicationTitle(),
            ReadSetting(QStringLiteral("Extension"), QStringLiteral("xl*")));
    });
    if (extension.isEmpty())
        return;
    steps.run(102, [&] { WriteSetting(QStringLiteral("Extension"), extension); });
    QString folder;
    steps.run(104, [&] {
        QString lastFolder = ReadSetting(QStringLiteral("LastFolder"), QString());
        folder = form.prompts().folder(QStringLiteral("Please select folder:"), lastFolder);
    });
    if (folder.isEmpty())
        return;
    steps.run(106, [&] { WriteSetting(QStringLiteral("LastFolder"), folder); });
    steps.run(108, [&] { form.setMousePointer(kPointerBusy); });
    steps.run(110,
              [&] { AddTree(form, *form.fileList(), folder, QStringLiteral("*.") + extension); });
    steps.run(112, [&] { form.showRestingPointer(); });
}

void AddDroppedPaths(Form1& form, const QStringList& paths) {
    // One item that fails (gone, unreadable) is reported and the next one is taken.
    Steps steps = form.stepsOf(QStringLiteral("ListView1_OLEDragDrop"));
    for (const QString& path : paths) {
        steps.run(0, [&] {
            if (IsFolder(path.toStdString()))
                AddTree(form, *form.fileList(), path, QStringLiteral("*.*"));
            else
                form.fileList()->appendEntry(path);
        });
    }
}

QByteArray ScrambleText(const QByteArray& text, const QByteArray& key) {
    if (key.isEmpty())
        return text;
    QByteArray out(text.size(), '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        int v =
            static_cast<unsigned char>(text[i]) + static_cast<unsigned char>(key[i % key.size()]);
        if (v >= 256)
            v -= 255;
        out[i] = static_cast<char>(v);
    }
    return out;
}

QByteArray UnscrambleText(const QByteArray& text, const QByteArray& key) {
    if (key.isEmpty())
        return text;
    QByteArray out(text.size(), '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        int v =
            static_cast<unsigned char>(text[i]) - static_cast<unsigned char>(key[i % key.size()]);
        if (v <= 0)
            v += 255;
        out[i] = static_cast<char>(v);
    }
    return out;
}

void SaveSampleSnapshot(const QString& programFolder) {
    QString samples = SamplesFolder(programFolder);
    QStringList paths;
    for (const std::string& name : FolderWalk().ListFiles(samples.toStdString(), "*.*"))
        paths << samples + QLatin1Char('/') + QString::fromStdString(name);
    // Scrambled bytes are kept one character each, so the store gives back exactly those bytes.
    QByteArray scrambled = ScrambleText(paths.join(QLatin1Char('|')).toUtf8(), kSnapshotKey);
    WriteSetting(QStringLiteral("Snapshot"), QString::fromLatin1(scrambled));
}

bool ListContains(const FileList& list, const QString& text) {
    for (int i = 1; i <= list.entryCount(); ++i)
        if (list.entryText(i) == text)
            return true;
    return false;
}

void LoadSampleFiles(Form1& form, FileList& list) {
    QByteArray stored = ReadSetting(QStringLiteral("Snapshot"), QString()).toLatin1();
    QString paths = QString::fromUtf8(UnscrambleText(stored, kSnapshotKey));
    for (const QString& path : paths.split(QLatin1Char('|'))) {
        if (FileExists(path.toStdString()) && !ListContains(list, path))
            list.appendEntry(path);
    }
    Answer answer = form.say(QStringLiteral("Would you like this software to open the folder "
                                            "where these sample files are stored (so that you "
                                            "can view them before working with them)?"),
                             MessageButtons::YesNo, Answer::Yes);
    if (answer != Answer::Yes)
        return;
    const QString folder = SamplesFolder(form.programFolder()) + QLatin1Char('/');
    // Without a file manager for folders nothing would show; the user is told where to look.
    form.prompts().openFolder(folder, [&form, folder] {
        form.say(QStringLiteral("No file manager could open the folder. The sample files are "
                                "stored in:\r\r") +
                 QDir::toNativeSeparators(folder));
    });
}

void LoadSampleExampleFiles(Form1& form) {
    Steps steps = form.stepsOf(QStringLiteral("PushButton9_Click"));
    steps.run(100, [&] { LoadSampleFiles(form, *form.fileList()); });
    steps.run(102, [&] {
        if (auto* text1 = form.findChild<QLineEdit*>(QStringLiteral("Text1")))
            text1->setText(QStringLiteral("ea"));
    });
}

} // namespace gq
