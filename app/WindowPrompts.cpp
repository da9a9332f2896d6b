#include "WindowPrompts.h"

#include <QDir>
#include <QFileInfo>

namespace gq {

Answer WindowPrompts::message(const Message& message) {
    beforeEach_();
    return shown_.message(message);
}

QString WindowPrompts::input(const QString& prompt, const QString& title,
                             const QString& defaultText) {
    beforeEach_();
    return shown_.input(prompt, title, defaultText);
}

QStringList WindowPrompts::openFiles(const FileDialogRequest& request) {
    beforeEach_();
    QStringList chosen = shown_.openFiles(startingWhereLastUsed(request));
    if (!chosen.isEmpty())
        remember(request, chosen.front());
    return chosen;
}

QString WindowPrompts::saveFile(const FileDialogRequest& request) {
    beforeEach_();
    QString chosen = shown_.saveFile(startingWhereLastUsed(request));
    if (!chosen.isEmpty())
        remember(request, chosen);
    return chosen;
}

QString WindowPrompts::folder(const QString& title, const QString& startFolder) {
    beforeEach_();
    return shown_.folder(title, startFolder.isEmpty() ? QDir::homePath() : startFolder);
}

void WindowPrompts::openFolder(const QString& path, std::function<void()> notShown) {
    beforeEach_();
    shown_.openFolder(path, std::move(notShown));
}

FileDialogRequest WindowPrompts::startingWhereLastUsed(FileDialogRequest request) const {
    // Never the folder the program happened to be started from.
    if (request.folder.isEmpty())
        request.folder = lastFolders_.value(request.title, QDir::homePath());
    return request;
}

void WindowPrompts::remember(const FileDialogRequest& request, const QString& chosen) {
    lastFolders_.insert(request.title, QFileInfo(chosen).absolutePath());
}

} // namespace gq
