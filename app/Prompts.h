#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace gq {

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageIcon { None, Exclamation, Question, Information, Critical };
enum class Answer { Ok, Cancel, Yes, No };

// A message box. Line breaks are written as the program always wrote them (CR LF, or a lone CR);
// the dialog shows each as one break.
struct Message {
    QString text;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    QString title;
    Answer defaultButton = Answer::Ok; // Yes for the question boxes unless told otherwise
};

struct FileDialogRequest {
    QString title;
    QString filter;   // "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|": description|pattern pairs
    QString folder;   // where the dialog opens; empty leaves it to the dialog
    QString fileName; // the name box's text
    // An open dialog refuses names of files that do not exist; false hands them to the program,
    // which has its own message for them.
    bool existingOnly = true;
};

// Every modal interaction of the program goes through one of these, so that tests can answer
// them and nothing else ever opens a dialog.
class Prompts {
public:
    virtual ~Prompts() = default;

    virtual Answer message(const Message& message) = 0;
    // The typed answer; the empty text when the prompt is cancelled.
    virtual QString input(const QString& prompt, const QString& title,
                          const QString& defaultText) = 0;
    // The chosen files, each a full path; empty when cancelled.
    virtual QStringList openFiles(const FileDialogRequest& request) = 0;
    // The chosen path; empty when cancelled.
    virtual QString saveFile(const FileDialogRequest& request) = 0;
    virtual QString folder(const QString& title, const QString& startFolder) = 0;
    // Shows the folder in the desktop's file manager; `notShown` runs, possibly later, when the
    // desktop has nothing that shows folders.
    virtual void openFolder(const QString& path, std::function<void()> notShown) = 0;
};

// The real prompts: Qt's dialogs, owned by the given window.
class DialogPrompts : public Prompts {
public:
    explicit DialogPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    Answer message(const Message& message) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText) override;
    QStringList openFiles(const FileDialogRequest& request) override;
    QString saveFile(const FileDialogRequest& request) override;
    QString folder(const QString& title, const QString& startFolder) override;
    void openFolder(const QString& path, std::function<void()> notShown) override;

private:
    QWidget* owner_;
};

// The width a window manager's title bar needs to show `title` whole, beside its buttons.
int TitleBarWidth(const QString& title);

// The message box DialogPrompts shows, made ready but not yet shown: at least as wide as its
// title needs in a window manager's title bar.
std::unique_ptr<QMessageBox> MakeMessageBox(const Message& message, QWidget* owner);
// Where a file dialog opens: the request's folder, with its file name when it has one.
QString StartPath(const FileDialogRequest& request);

// CR LF and lone CR as the single line break a Qt dialog shows.
QString DisplayLineBreaks(const QString& text);
// "desc|pattern|desc|pattern|" as Qt's "desc (pattern);;desc (pattern)".
QString QtFileFilter(const QString& filter);

} // namespace gq
