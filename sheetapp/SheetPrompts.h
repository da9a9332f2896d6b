#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace gq {

// Every question the sheet window asks goes through one of these, so that tests and scripts
// can answer them and nothing else opens a dialog.
class SheetPrompts {
public:
    enum class SaveChoice { Save, DontSave, Cancel };

    virtual ~SheetPrompts() = default;
    // Asked before an unsaved workbook closes.
    virtual SaveChoice askSaveChanges(const QString& bookName) = 0;
    // The path to save as, empty when cancelled. `suggested` is where the dialog starts.
    virtual QString saveAsPath(const QString& suggested) = 0;
    virtual void showError(const QString& text) = 0;
};

inline constexpr const char* kSaveAsFilter =
    "Excel Workbook (*.xlsx);;CSV (Comma delimited) (*.csv)";

// The question asked before an unsaved workbook closes.
QString SaveChangesQuestion(const QString& bookName);

class DialogSheetPrompts : public SheetPrompts {
public:
    explicit DialogSheetPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    SaveChoice askSaveChanges(const QString& bookName) override;
    QString saveAsPath(const QString& suggested) override;
    void showError(const QString& text) override;

private:
    QWidget* owner_;
};

// Answers from a list, in order: "save", "dontsave", "cancel" for the question, a path (or
// "cancel") for the save dialog. A prompt with no answer left is cancelled. Every prompt and
// error is recorded, for tests and for scripts that drive the window (--answers).
class ListedSheetPrompts : public SheetPrompts {
public:
    explicit ListedSheetPrompts(QStringList answers = {}) : answers_(std::move(answers)) {}

    SaveChoice askSaveChanges(const QString& bookName) override;
    QString saveAsPath(const QString& suggested) override;
    void showError(const QString& text) override;

    void add(const QString& answer) { answers_ << answer; }
    const QStringList& asked() const { return asked_; }
    const QStringList& errors() const { return errors_; }

private:
    QString next();

    QStringList answers_;
    QStringList asked_;
    QStringList errors_;
};

} // namespace gq
