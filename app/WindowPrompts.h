#pragma once

#include "Prompts.h"

#include <QHash>

#include <functional>

namespace gq {

// The prompts as the main window shows them: before each one `beforeEach` runs (the window
// shows the rows found so far, which a run otherwise holds back between its event passes), and
// each file dialog starts in the folder it last used in this session, else in the home folder.
// A dialog is known by its title.
class WindowPrompts : public Prompts {
public:
    WindowPrompts(Prompts& shown, std::function<void()> beforeEach)
        : shown_(shown), beforeEach_(std::move(beforeEach)) {}

    Answer message(const Message& message) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;
    QStringList openFiles(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
    QString folder(const QString& title, const QString& startFolder) override;
    void openFolder(const QString& path, std::function<void()> notShown) override;

private:
    FileDialogRequest startingWhereLastUsed(FileDialogRequest request) const;
    void remember(const FileDialogRequest& request, const QString& chosen);

    Prompts& shown_;
    std::function<void()> beforeEach_;
    QHash<QString, QString> lastFolders_; // by dialog title
};

} // namespace gq
