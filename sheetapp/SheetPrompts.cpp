#include "SheetPrompts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

namespace gq {

QString SaveChangesQuestion(const QString& bookName) {
    return QStringLiteral("Do you want to save the changes you made to '%1'?").arg(bookName);
}

SheetPrompts::SaveChoice DialogSheetPrompts::askSaveChanges(const QString& bookName) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Gridquest Sheet"),
                    SaveChangesQuestion(bookName),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, owner_);
    box.setDefaultButton(QMessageBox::Save);
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Don't Save"));
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::DontSave;
    default:
        return SaveChoice::Cancel;
    }
}

QString DialogSheetPrompts::saveAsPath(const QString& suggested) {
    QString chosenFilter;
    QString path = QFileDialog::getSaveFileName(owner_, QStringLiteral("Save As"), suggested,
                                                QString::fromLatin1(kSaveAsFilter), &chosenFilter);
    if (path.isEmpty())
        return path;
    // A name typed without its extension gets the one of the chosen type.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv"))
        path += chosenFilter.contains(QLatin1String("*.csv")) ? QStringLiteral(".csv")
                                                              : QStringLiteral(".xlsx");
    return path;
}

void DialogSheetPrompts::showError(const QString& text) {
    QMessageBox::warning(owner_, QStringLiteral("Gridquest Sheet"), text);
}

QString ListedSheetPrompts::next() {
    return answers_.isEmpty() ? QStringLiteral("cancel") : answers_.takeFirst();
}

SheetPrompts::SaveChoice ListedSheetPrompts::askSaveChanges(const QString& bookName) {
    asked_ << SaveChangesQuestion(bookName);
    QString answer = next();
    if (answer == QLatin1String("save"))
        return SaveChoice::Save;
    if (answer == QLatin1String("dontsave"))
        return SaveChoice::DontSave;
    return SaveChoice::Cancel;
}

QString ListedSheetPrompts::saveAsPath(const QString& suggested) {
    asked_ << QStringLiteral("Save As ") + suggested;
    QString answer = next();
    return answer == QLatin1String("cancel") ? QString() : answer;
}

void ListedSheetPrompts::showError(const QString& text) {
    errors_ << text;
    std::fprintf(stderr, "gridquest-sheet: %s\n", text.toLocal8Bit().constData());
}

} // namespace gq
