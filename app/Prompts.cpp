#include "Prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace gq {

QString DisplayLineBreaks(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString QtFileFilter(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the parentheses of the description.
        if (!description.contains(QLatin1Char('(') + patterns + QLatin1Char(')')))
            description += QStringLiteral(" (") + patterns + QLatin1Char(')');
        filters << description;
    }
    return filters.join(QStringLiteral(";;"));
}

Answer DialogPrompts::message(const Message& message) {
    QMessageBox box(owner_);
    box.setWindowTitle(message.title);
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayLineBreaks(message.text));
    switch (message.icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    struct Choice {
        Answer answer;
        QMessageBox::StandardButton button;
    };
    QList<Choice> choices;
    switch (message.buttons) {
    case MessageButtons::Ok:
        choices = {{Answer::Ok, QMessageBox::Ok}};
        break;
    case MessageButtons::OkCancel:
        choices = {{Answer::Ok, QMessageBox::Ok}, {Answer::Cancel, QMessageBox::Cancel}};
        break;
    case MessageButtons::YesNo:
        choices = {{Answer::Yes, QMessageBox::Yes}, {Answer::No, QMessageBox::No}};
        break;
    case MessageButtons::YesNoCancel:
        choices = {{Answer::Yes, QMessageBox::Yes},
                   {Answer::No, QMessageBox::No},
                   {Answer::Cancel, QMessageBox::Cancel}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& choice : choices)
        buttons |= choice.button;
    box.setStandardButtons(buttons);
    for (const Choice& choice : choices)
        if (choice.answer == message.defaultButton)
            box.setDefaultButton(choice.button);
    int pressed = box.exec();
    for (const Choice& choice : choices)
        if (pressed == choice.button)
            return choice.answer;
    // Closed by the window manager or Escape: what the box's cancelling button means.
    if (message.buttons == MessageButtons::YesNo)
        return Answer::No;
    return message.buttons == MessageButtons::Ok ? Answer::Ok : Answer::Cancel;
}

QString DialogPrompts::input(const QString& prompt, const QString& title,
                             const QString& defaultText) {
    bool ok = false;
    QString answer = QInputDialog::getText(owner_, title, DisplayLineBreaks(prompt),
                                           QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

QStringList DialogPrompts::openFiles(const FileDialogRequest& request) {
    QString start = request.folder;
    if (!request.fileName.isEmpty())
        start = start.isEmpty() ? request.fileName : start + QLatin1Char('/') + request.fileName;
    return QFileDialog::getOpenFileNames(owner_, request.title, start,
                                         QtFileFilter(request.filter));
}

QString DialogPrompts::saveFile(const FileDialogRequest& request) {
    QString start = request.folder;
    if (!request.fileName.isEmpty())
        start = start.isEmpty() ? request.fileName : start + QLatin1Char('/') + request.fileName;
    return QFileDialog::getSaveFileName(owner_, request.title, start, QtFileFilter(request.filter));
}

QString DialogPrompts::folder(const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner_, title, startFolder);
}

void DialogPrompts::openFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace gq
