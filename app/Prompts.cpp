#include "Prompts.h"

#include "OpenFilesDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
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

namespace {

struct Choice {
    Answer answer;
    QMessageBox::StandardButton button;
};

QList<Choice> ChoicesOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return {{Answer::Ok, QMessageBox::Ok}};
    case MessageButtons::OkCancel:
        return {{Answer::Ok, QMessageBox::Ok}, {Answer::Cancel, QMessageBox::Cancel}};
    case MessageButtons::YesNo:
        return {{Answer::Yes, QMessageBox::Yes}, {Answer::No, QMessageBox::No}};
    case MessageButtons::YesNoCancel:
        return {{Answer::Yes, QMessageBox::Yes},
                {Answer::No, QMessageBox::No},
                {Answer::Cancel, QMessageBox::Cancel}};
    }
    return {};
}

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None:
        break;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

int TitleBarWidth(const QString& title) {
    // The text as a title bar sets it, in bold, beside the bar's icon and its three buttons,
    // each about two lines of text square.
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 8 * metrics.height();
}

std::unique_ptr<QMessageBox> MakeMessageBox(const Message& message, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(message.title);
    box->setTextFormat(Qt::PlainText);
    box->setText(DisplayLineBreaks(message.text));
    box->setIcon(IconOf(message.icon));
    const QList<Choice> choices = ChoicesOf(message.buttons);
    QMessageBox::StandardButtons buttons;
    for (const Choice& choice : choices)
        buttons |= choice.button;
    box->setStandardButtons(buttons);
    for (const Choice& choice : choices)
        if (choice.answer == message.defaultButton)
            box->setDefaultButton(choice.button);
    // The box sizes itself to its text; a short text would leave the title bar room for a
    // letter or two. A row as wide as the title needs holds it open.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(TitleBarWidth(message.title), 0, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

Answer DialogPrompts::message(const Message& message) {
    std::unique_ptr<QMessageBox> box = MakeMessageBox(message, owner_);
    const int pressed = box->exec();
    for (const Choice& choice : ChoicesOf(message.buttons))
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

QString StartPath(const FileDialogRequest& request) {
    if (request.fileName.isEmpty())
        return request.folder;
    return request.folder.isEmpty() ? request.fileName
                                    : request.folder + QLatin1Char('/') + request.fileName;
}

QStringList DialogPrompts::openFiles(const FileDialogRequest& request) {
    OpenFilesDialog dialog(request, owner_);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.chosenFiles();
}

QString DialogPrompts::saveFile(const FileDialogRequest& request) {
    return QFileDialog::getSaveFileName(owner_, request.title, StartPath(request),
                                        QtFileFilter(request.filter));
}

QString DialogPrompts::folder(const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner_, title, startFolder);
}

void DialogPrompts::openFolder(const QString& path, std::function<void()> notShown) {
    // Qt's own call only tells whether the desktop's opener started. The opener itself fails,
    // after trying what it knows (seconds, on a bare desktop), when nothing shows folders; where
    // something does, it may run on as long as that program does. So its end is awaited without
    // holding the window up. It belongs to the window, which it must not outlive.
    auto* opener = new QProcess(owner_);
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, notShown](int code, QProcess::ExitStatus how) {
                         opener->deleteLater();
                         if (how != QProcess::NormalExit || code != 0)
                             notShown();
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, path, notShown](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         opener->deleteLater();
                         if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
                             notShown();
                     });
    opener->start(QStringLiteral("xdg-open"), {path});
}

} // namespace gq
