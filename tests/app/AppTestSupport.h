#pragma once

#include "FileList.h"
#include "Form1.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>

class QPushButton;
class QRadioButton;

namespace gqapptest {

// Points XDG_CONFIG_HOME (and the runtime folder) into a temporary folder of this process and
// keeps every window offscreen. Runs before the application object exists.
void IsolateUserFolders();

// A fresh, empty settings store for one test, with a log of the writes made to it.
class SettingsSandbox {
public:
    SettingsSandbox();
    ~SettingsSandbox();

    // A value as if stored by an earlier run (or by hand).
    void store(const QString& key, const QString& value);
    QString iniText() const;
    QString folder() const { return dir_.path(); }

    QStringList writes; // "Key=Value", in the order written

private:
    QTemporaryDir dir_;
};

// A main window as a test drives it: scripted prompts, every event pass taken at once, a program
// folder of its own (no pointer image, no skin unless the test puts them there) and a
// running-instance name that no one listens on unless the test does.
struct Window {
    explicit Window(const QString& programFolder = QString());

    gq::ScriptedPrompts prompts;
    QTemporaryDir folder;
    QString socketName;
    int snapshotRuns = 0;
    std::unique_ptr<gq::Form1> form;

    bool load() { return form->formLoad(); }
    QPushButton* button(const char* name) const;
    QRadioButton* option(int number) const;
    void addFiles(const QStringList& paths);
    QStringList comboItems() const;
};

// A shown window, so that the lists have their real size and rows have places on the screen.
struct ShownWindow : Window {
    explicit ShownWindow(const QString& programFolder = QString());
    gq::FileList& list() const { return *form->fileList(); }
    QWidget* viewport() const;
    // The centre of file-list entry `index` (1-based) in the viewport.
    QPoint rowCentre(int index) const;
    void key(Qt::Key key) const { QTest::keyClick(&list(), key); }
};

// A mouse move over `widget` at `at` (its centre when null), as the pointer rules see it.
void MoveOver(QWidget* widget, QPoint at = QPoint(-1, -1));
// A move with the left button held, as a drag sends it.
void DragTo(QWidget* viewport, QPoint at);

// A workbook search's rows as "sheet|location|text|row|col" (the file column left out).
QStringList ResultTexts(const gq::Form1& form);

} // namespace gqapptest

#define GQ_APP_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv) {                                                              \
        gqapptest::IsolateUserFolders();                                                           \
        QApplication application(argc, argv);                                                      \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
