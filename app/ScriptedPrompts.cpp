#include "ScriptedPrompts.h"

namespace gq {

namespace {

template <typename T> T Take(std::deque<T>& queue, T fallback) {
    if (queue.empty())
        return fallback;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}

} // namespace

const ScriptedPrompts::Record& ScriptedPrompts::add(Record record) {
    records.push_back(std::move(record));
    // A copy: the callback may itself prompt, which grows `records`.
    Record shown = records.back();
    if (whileOpen)
        whileOpen(shown);
    return records.back();
}

Answer ScriptedPrompts::message(const Message& message) {
    Record record{Kind::Message, message, {}, {}, {}, {}, {}};
    add(record);
    return Take(answers, message.defaultButton);
}

QString ScriptedPrompts::input(const QString& prompt, const QString& title,
                               const QString& defaultText) {
    add({Kind::Input, {}, prompt, title, defaultText, {}, {}});
    return Take(inputs, defaultText);
}

QStringList ScriptedPrompts::openFiles(const FileDialogRequest& request) {
    add({Kind::OpenFiles, {}, {}, {}, {}, request, {}});
    return Take(files, QStringList());
}

QString ScriptedPrompts::saveFile(const FileDialogRequest& request) {
    add({Kind::SaveFile, {}, {}, {}, {}, request, {}});
    return Take(savePaths, QString());
}

QString ScriptedPrompts::folder(const QString& title, const QString& startFolder) {
    add({Kind::Folder, {}, {}, title, startFolder, {}, {}});
    return Take(folders, QString());
}

void ScriptedPrompts::openFolder(const QString& path, std::function<void()> notShown) {
    add({Kind::OpenFolder, {}, {}, {}, {}, {}, path});
    if (!Take(openedFolders, true))
        notShown();
}

QStringList ScriptedPrompts::messageTexts() const {
    QStringList texts;
    for (const Record& record : records)
        if (record.kind == Kind::Message)
            texts << record.message.text;
    return texts;
}

} // namespace gq
