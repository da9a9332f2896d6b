// Where the file dialogs start, the term-list dialog's names of missing files, and message boxes
// wide enough for their titles. The real dialogs are made and driven here, never run modally.
#include "AppTestSupport.h"

#include "OpenFilesDialog.h"
#include "TestFiles.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using gq::ScriptedPrompts;
using gqapptest::SettingsSandbox;
using gqapptest::Window;

namespace {

// The start folders of the file dialogs shown so far, by title, in order.
QStringList StartFolders(const ScriptedPrompts& prompts) {
    QStringList folders;
    for (const ScriptedPrompts::Record& record : prompts.records)
        if (record.kind == ScriptedPrompts::Kind::OpenFiles ||
            record.kind == ScriptedPrompts::Kind::SaveFile)
            folders << record.request.title.left(4) + ' ' + record.request.folder;
    return folders;
}

// Puts `names` into a dialog's name box, as typing or pasting them would, and presses its Open
// button; false when the button is greyed out.
bool TypeAndOpen(QFileDialog& dialog, const QString& names) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
    if (!edit || !buttons)
        return false;
    // Typing happens in the focused box, which the list's selection then leaves alone.
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        return false;
    edit->setFocus();
    edit->setText(names);
    QPushButton* open = buttons->button(QDialogButtonBox::Open);
    if (!open || !open->isEnabled())
        return false;
    open->click();
    return true;
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void eachFileDialogStartsWhereItWasLastUsed();
    void termListDialogHandsOverNamesOfMissingFiles();
    void messageBoxesLeaveRoomForTheirTitle();
};

void DialogsTest::eachFileDialogStartsWhereItWasLastUsed() {
    SettingsSandbox settings;
    gqtest::TempDir dir;
    const QString books = QString::fromStdString(dir.path("books"));
    const QString lists = QString::fromStdString(dir.path("lists"));
    QDir().mkpath(books);
    QDir().mkpath(lists);
    Window window;
    QVERIFY(window.load());
    const QString home = QDir::homePath();
    // Add: chosen in books; Load: cancelled, then a missing list in lists; Save: in books.
    window.prompts.files = {{books + "/a.xlsx", books + "/b.xlsx"}, {}, {lists + "/gone.txt"}};
    window.prompts.savePaths = {books + "/found.txt"};
    window.button("PushButton1")->click();
    window.button("PushButton17")->click();
    window.button("PushButton17")->click();
    window.button("PushButton4")->click();
    window.button("PushButton1")->click(); // cancelled: the folder stays
    window.button("PushButton1")->click();
    window.button("PushButton17")->click();
    window.button("PushButton4")->click();
    QCOMPARE(StartFolders(window.prompts),
             (QStringList{"Add  " + home, "Load " + home, "Load " + home, "Save " + home,
                          "Add  " + books, "Add  " + books, "Load " + lists, "Save " + books}));
    QVERIFY(QFile::exists(books + "/found.txt"));
}

void DialogsTest::termListDialogHandsOverNamesOfMissingFiles() {
    SettingsSandbox settings;
    gqtest::TempDir dir;
    const QString folder = QString::fromStdString(dir.path(""));
    gqtest::WriteFile(dir.path("kept.txt"), "kept\n");
    gqtest::WriteFile(dir.path("book.xlsx"), "x");
    QDir().mkpath(folder + "/sub");

    // The Load button asks for a dialog that leaves missing names to it; Add does not.
    Window window;
    QVERIFY(window.load());
    window.button("PushButton17")->click();
    window.button("PushButton1")->click();
    QVERIFY(!window.prompts.records[0].request.existingOnly);
    QVERIFY(window.prompts.records[1].request.existingOnly);

    gq::FileDialogRequest request = window.prompts.records[0].request;
    request.folder = folder;
    // One missing name typed: handed over as a path in the dialog's folder.
    auto dialog = std::make_unique<gq::OpenFilesDialog>(request, nullptr);
    dialog->show();
    QVERIFY(TypeAndOpen(*dialog, "gone.txt"));
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(dialog->chosenFiles(), QStringList{folder + "/gone.txt"});
    // Several, one of them missing: none is dropped.
    dialog = std::make_unique<gq::OpenFilesDialog>(request, nullptr);
    dialog->show();
    QVERIFY(TypeAndOpen(*dialog, "\"kept.txt\" \"gone.txt\""));
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(dialog->chosenFiles(), (QStringList{folder + "/kept.txt", folder + "/gone.txt"}));
    // A folder typed alone is opened, not chosen.
    dialog = std::make_unique<gq::OpenFilesDialog>(request, nullptr);
    dialog->show();
    QVERIFY(TypeAndOpen(*dialog, "sub"));
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(folder + "/sub").canonicalPath());

    // The dialog for workbooks keeps refusing them.
    gq::FileDialogRequest workbooks = window.prompts.records[1].request;
    workbooks.folder = folder;
    gq::OpenFilesDialog strict(workbooks, nullptr);
    strict.show();
    QVERIFY(!TypeAndOpen(strict, "gone.xlsx"));
    QVERIFY(TypeAndOpen(strict, "book.xlsx"));
    QCOMPARE(strict.chosenFiles(), QStringList{folder + "/book.xlsx"});

    // And what the dialog hands over reaches the loader's own message.
    window.prompts.clear();
    window.prompts.files = {{folder + "/kept.txt", folder + "/gone.txt"}};
    window.button("PushButton17")->click();
    QCOMPARE(window.prompts.messageTexts(), QStringList{"File not found"});
    QCOMPARE(window.comboItems(), QStringList{"kept"});
}

void DialogsTest::messageBoxesLeaveRoomForTheirTitle() {
    gq::Message done;
    done.text = "Done.";
    done.title = "Gridquest";
    std::unique_ptr<QMessageBox> box = gq::MakeMessageBox(done, nullptr);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    const int titleRoom = gq::TitleBarWidth("Gridquest");
    QVERIFY2(box->width() >= titleRoom,
             qPrintable(QStringLiteral("%1 < %2").arg(box->width()).arg(titleRoom)));
    // Its title bar holds the title beside a window manager's buttons, not just the text.
    QVERIFY(titleRoom > box->fontMetrics().horizontalAdvance("Gridquest") + 100);
    // A long text still widens a box beyond that.
    gq::Message report = done;
    report.text = QString(80, 'w');
    std::unique_ptr<QMessageBox> wide = gq::MakeMessageBox(report, nullptr);
    wide->show();
    QVERIFY(QTest::qWaitForWindowExposed(wide.get()));
    QVERIFY(wide->width() > box->width());
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
}

GQ_APP_TEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
