#include "OpenFilesDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

namespace gq {

namespace {

constexpr const char* kNameBox = "fileNameEdit"; // the object names of Qt's own dialog
constexpr const char* kButtons = "buttonBox";

} // namespace

QStringList OpenFilesDialog::chosenFiles() const {
    if (result() != QDialog::Accepted)
        return {};
    return existingOnly_ ? selectedFiles() : chosen_;
}

OpenFilesDialog::OpenFilesDialog(const FileDialogRequest& request, QWidget* owner)
    : QFileDialog(owner, request.title, StartPath(request), QtFileFilter(request.filter)),
      existingOnly_(request.existingOnly) {
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (existingOnly_)
        return;
    // A desktop's own dialog would refuse missing names before the program sees them.
    setOption(QFileDialog::DontUseNativeDialog);
    // The dialog greys its Open button out while a typed name is missing; this runs after its
    // own update (connected first) and takes that back.
    auto* names = findChild<QLineEdit*>(QLatin1String(kNameBox));
    auto* buttons = findChild<QDialogButtonBox*>(QLatin1String(kButtons));
    if (!names || !buttons)
        return;
    connect(names, &QLineEdit::textChanged, this, [buttons](const QString& text) {
        if (QPushButton* open = buttons->button(QDialogButtonBox::Open); open && !text.isEmpty())
            open->setEnabled(true);
    });
}

QStringList OpenFilesDialog::typedNames() const {
    auto* box = findChild<QLineEdit*>(QLatin1String(kNameBox));
    const QString text = box ? box->text().trimmed() : QString();
    if (text.isEmpty())
        return {};
    // Several names are typed, or put there by a selection, as "one" "two".
    QStringList names;
    if (text.contains(QLatin1Char('"'))) {
        const QStringList pieces = text.split(QLatin1Char('"'));
        for (qsizetype i = 1; i < pieces.size(); i += 2)
            names << pieces[i];
    } else {
        names << text;
    }
    QStringList paths;
    for (const QString& name : names)
        paths << (QFileInfo(name).isAbsolute() ? name : directory().filePath(name));
    return paths;
}

void OpenFilesDialog::accept() {
    if (existingOnly_) {
        QFileDialog::accept();
        return;
    }
    // The name box is what the user chose: the list's selection would leave out a missing name
    // typed beside existing ones.
    const QStringList typed = typedNames();
    const QStringList chosen = typed.isEmpty() ? selectedFiles() : typed;
    // A folder alone is opened, as the dialog always does.
    if (chosen.isEmpty() || (chosen.size() == 1 && QFileInfo(chosen.front()).isDir())) {
        QFileDialog::accept();
        return;
    }
    chosen_ = chosen;
    QDialog::accept();
}

} // namespace gq
