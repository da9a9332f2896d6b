#pragma once

#include "Prompts.h"

#include <deque>
#include <functional>
#include <vector>

namespace gq {

// Prompts for tests: records every prompt and answers from queues. An empty queue gives the
// answer of a user who just confirms: the default button, the default text, a cancelled dialog.
class ScriptedPrompts : public Prompts {
public:
    enum class Kind { Message, Input, OpenFiles, SaveFile, Folder, OpenFolder };

    struct Record {
        Kind kind;
        Message message;           // Message
        QString prompt;            // Input
        QString title;             // Input, Folder
        QString defaultText;       // Input; the start folder of Folder
        FileDialogRequest request; // OpenFiles, SaveFile
        QString path;              // OpenFolder
    };

    std::vector<Record> records;
    std::deque<Answer> answers;
    std::deque<QString> inputs;
    std::deque<QStringList> files;
    std::deque<QString> savePaths;
    std::deque<QString> folders;
    std::deque<bool> openedFolders; // whether a folder is shown; true when empty
    // Runs while a prompt is "open", as a user's other actions could during a modal dialog.
    std::function<void(const Record&)> whileOpen;

    Answer message(const Message& message) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;
    QStringList openFiles(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
    QString folder(const QString& title, const QString& startFolder) override;
    void openFolder(const QString& path, std::function<void()> notShown) override;

    // The texts of the message boxes shown so far, in order.
    QStringList messageTexts() const;
    void clear() { records.clear(); }

private:
    const Record& add(Record record);
};

} // namespace gq
