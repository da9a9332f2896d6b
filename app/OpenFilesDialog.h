#pragma once

#include "Prompts.h"

#include <QFileDialog>

namespace gq {

// The open dialog for one or more files. Like any file dialog it refuses names of files that do
// not exist, unless the request says otherwise: then every name in its name box comes back,
// missing or not, for the program's own message about it.
class OpenFilesDialog : public QFileDialog {
    Q_OBJECT
public:
    OpenFilesDialog(const FileDialogRequest& request, QWidget* owner);

    // What the user chose, each a full path; empty unless the dialog was accepted.
    QStringList chosenFiles() const;

protected:
    void accept() override;

private:
    QStringList typedNames() const;

    bool existingOnly_;
    QStringList chosen_; // when missing names are handed over
};

} // namespace gq
