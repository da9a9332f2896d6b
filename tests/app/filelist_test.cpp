// The file list: intake by dialog, removal, reordering by dragging, the folder scan, drops and
// the sample workbooks, on real temporary folder trees.
#include "AppTestSupport.h"

#include "FileIntake.h"
#include "FileList.h"
#include "Settings.h"
#include "TestFiles.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <memory>

#include <unistd.h>

using gq::ScriptedPrompts;
using gqapptest::DragTo;
using gqapptest::SettingsSandbox;
using gqapptest::ShownWindow;
using gqapptest::Window;

namespace {

QString Folder(const QString& path) {
    QDir().mkpath(path);
    return path;
}

QString File(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    gqtest::WriteFile(path.toStdString(), "x");
    return path;
}

std::unique_ptr<QMimeData> UriList(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// What a file manager's drag gets from the list: accepted or not, and with which action.
struct DragAnswer {
    bool accepted;
    Qt::DropAction action;
};

DragAnswer Enter(QWidget* viewport, QMimeData* data) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(viewport, &enter);
    return {enter.isAccepted(), enter.dropAction()};
}

DragAnswer Drop(QWidget* viewport, QMimeData* data) {
    DragAnswer answer = Enter(viewport, data);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    answer.accepted = answer.accepted && drop.isAccepted();
    answer.action = drop.dropAction();
    QCoreApplication::processEvents(); // the drop is taken once it has been answered
    return answer;
}

QString SourceImage(const char* name) {
    return QFileInfo(QStringLiteral(GQ_POINTER_IMAGE)).path() + '/' + QLatin1String(name);
}

} // namespace

class FileListTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void dialogAddsOneAsReturnedAndSeveralNormalised();
    void removalNeedsAnIdleWindowAndASelection();
    void draggingMovesAnEntryOverThreeOthers();
    void identicalTextsAreNeverSwapped();
    void aRemovedDragItemMovesNothing();
    void dragPointerNeedsAReadableImage();
    void draggingPastTheEdgeScrolls();
    void folderScanOrderAndFilters();
    void folderScanIsBusyAndRefusesRemoval();
    void unreadableFolderIsLeftOut();
    void cancelledScanChangesNothing();
    void dropsOfFoldersAndFiles();
    void dropsOfAnythingElseAreRefused();
    void snapshotRoundTripAndLoadingTwice();
    void removedSampleIsSkipped();
    void missingSnapshotLoadsNothing();
    void samplesFolderThatCannotBeShownIsNamed();
    void startUpRecordsTheSamplesBesideTheProgram();
    void scramblingIsReversible();

private:
    std::unique_ptr<SettingsSandbox> settings_;
    std::unique_ptr<gqtest::TempDir> dir_;
    QString tree_; // a real folder tree, made by makeTree()

    QString path(const QString& relative) const {
        return QString::fromStdString(dir_->path(relative.toStdString()));
    }
    void makeTree();
    QString treeFile(const QString& relative) const { return tree_ + '/' + relative; }
};

void FileListTest::init() {
    settings_ = std::make_unique<SettingsSandbox>();
    dir_ = std::make_unique<gqtest::TempDir>();
    tree_ = path("tree");
}

void FileListTest::cleanup() {
    dir_.reset();
    settings_.reset();
}

// tree/: Book.xlsx, ~$Book.xlsx, notes.txt, .hidden.xlsx (writable), .kept.xlsx (read-only),
// .cache/inner.xls (a hidden folder), sub/deep.XLSM, sub/again -> .. (a link loop).
void FileListTest::makeTree() {
    File(treeFile("Book.xlsx"));
    File(treeFile("~$Book.xlsx"));
    File(treeFile("notes.txt"));
    File(treeFile(".hidden.xlsx"));
    QFile::setPermissions(File(treeFile(".kept.xlsx")), QFile::ReadOwner);
    File(treeFile(".cache/inner.xls"));
    File(treeFile("sub/deep.XLSM"));
    QVERIFY(QFile::link(tree_, treeFile("sub/again")));
}

void FileListTest::dialogAddsOneAsReturnedAndSeveralNormalised() {
    Window window;
    QVERIFY(window.load());
    window.prompts.files = {
        {"/data//one.xlsx"}, {"/data//a.xlsx", "//data/b.xls"}, {}, {"/data//one.xlsx"}};
    for (int press = 0; press < 4; ++press)
        window.button("PushButton1")->click();
    // One file as the dialog gave it; several each normalised; a cancel adds nothing; the same
    // file twice is listed twice.
    QCOMPARE(window.form->fileList()->entryTexts(),
             (QStringList{"/data//one.xlsx", "/data/a.xlsx", "/data/b.xls", "/data//one.xlsx"}));
    const ScriptedPrompts::Record& dialog = window.prompts.records.front();
    QCOMPARE(dialog.kind, ScriptedPrompts::Kind::OpenFiles);
    QCOMPARE(dialog.request.title,
             QString("Add File(s) - Use Ctrl & Shift to select multiple files"));
    QCOMPARE(dialog.request.filter, QString("Excel Files (*.xl*)|*.xl*|All Files (*.*)|*.*|"));
    QCOMPARE(gq::QtFileFilter(dialog.request.filter),
             QString("Excel Files (*.xl*);;All Files (*.*)"));
    // The dialog does not wait for a busy window.
    window.form->setMousePointer(gq::kPointerBusy);
    window.prompts.files = {{"/x.xlsx"}};
    window.button("PushButton1")->click();
    QCOMPARE(window.form->fileList()->entryCount(), 5);
    QVERIFY(window.prompts.messageTexts().isEmpty());
}

void FileListTest::removalNeedsAnIdleWindowAndASelection() {
    ShownWindow window;
    gq::FileList& list = window.list();
    window.key(Qt::Key_Delete); // empty list
    QTest::mouseDClick(window.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(list.entryCount(), 0);

    window.addFiles({"a", "b", "c", "d"});
    window.key(Qt::Key_Delete); // nothing selected
    QCOMPARE(list.entryCount(), 4);
    list.setCurrentItem(list.topLevelItem(1));
    window.key(Qt::Key_Backspace); // only Delete removes
    QCOMPARE(list.entryCount(), 4);
    window.key(Qt::Key_Delete);
    QCOMPARE(list.entryTexts(), (QStringList{"a", "c", "d"}));
    QTest::mouseDClick(window.viewport(), Qt::LeftButton, {}, window.rowCentre(3));
    QCOMPARE(list.entryTexts(), (QStringList{"a", "c"}));

    // The pointer is no busy state: an hourglass over an idle list (a term list loading, say)
    // leaves removal and clearing alone. A run and a scan refuse them (run and scan tests).
    window.form->setMousePointer(gq::kPointerBusy);
    list.setCurrentItem(list.topLevelItem(0));
    window.key(Qt::Key_Delete);
    QCOMPARE(list.entryTexts(), QStringList{"c"});
    window.button("PushButton5")->click();
    QCOMPARE(list.entryCount(), 0);
    QVERIFY(window.prompts.records.empty()); // no question, no report
}

void FileListTest::draggingMovesAnEntryOverThreeOthers() {
    ShownWindow window;
    gq::FileList& list = window.list();
    window.addFiles({"A", "B", "C", "D", "E"});
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
    QVERIFY(list.dragActive());
    QCOMPARE(list.dragIndex(), 1);
    for (int row : {2, 3, 4})
        DragTo(window.viewport(), window.rowCentre(row));
    QCOMPARE(list.entryTexts(), (QStringList{"B", "C", "D", "A", "E"}));
    QCOMPARE(list.dragIndex(), 4);
    QCOMPARE(list.currentItem()->text(0), QString("A"));
    QVERIFY(list.currentItem()->isSelected());
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(4));
    QVERIFY(!list.dragActive());
    QCOMPARE(list.listPointer(), int(gq::kListPointerArrow));
    // A move without a press moves nothing; the dragged entry stays remembered.
    gqapptest::MoveOver(window.viewport(), window.rowCentre(1));
    QCOMPARE(list.entryTexts(), (QStringList{"B", "C", "D", "A", "E"}));
    QCOMPARE(window.form->mousePointer(), 0);
    // Back up, two places, from a press on the empty space below the entries.
    QTest::mousePress(window.viewport(), Qt::LeftButton, {},
                      QPoint(5, window.viewport()->height() - 2));
    for (int row : {3, 2})
        DragTo(window.viewport(), window.rowCentre(row));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
    QCOMPARE(list.entryTexts(), (QStringList{"B", "A", "C", "D", "E"}));
}

void FileListTest::identicalTextsAreNeverSwapped() {
    ShownWindow window;
    gq::FileList& list = window.list();
    window.addFiles({"same", "same", "other"});
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
    DragTo(window.viewport(), window.rowCentre(2));
    QCOMPARE(list.entryTexts(), (QStringList{"same", "same", "other"}));
    QCOMPARE(list.dragIndex(), 1);
    // The dragged entry swaps with the one under the pointer, wherever it is.
    DragTo(window.viewport(), window.rowCentre(3));
    QCOMPARE(list.entryTexts(), (QStringList{"other", "same", "same"}));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(3));
}

void FileListTest::aRemovedDragItemMovesNothing() {
    ShownWindow window;
    gq::FileList& list = window.list();
    window.addFiles({"a", "b", "c"});
    QTest::mouseClick(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
    QCOMPARE(list.dragIndex(), 2);
    window.key(Qt::Key_Delete);
    QCOMPARE(list.dragIndex(), 0);
    QTest::mousePress(window.viewport(), Qt::LeftButton, {},
                      QPoint(5, window.viewport()->height() - 2));
    DragTo(window.viewport(), window.rowCentre(1));
    DragTo(window.viewport(), window.rowCentre(2));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
    QCOMPARE(list.entryTexts(), (QStringList{"a", "c"}));
    list.clear();
    DragTo(window.viewport(), QPoint(5, 5)); // a drag over an empty list
}

void FileListTest::dragPointerNeedsAReadableImage() {
    QString program = Folder(path("program"));
    QVERIFY(QFile::copy(SourceImage("drag.ico"), program + "/drag.ico"));
    {
        ShownWindow window(program);
        window.addFiles({"a", "b"});
        QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
        QCOMPARE(window.list().listPointer(), int(gq::kListPointerDrag));
        QCOMPARE(window.viewport()->cursor().shape(), Qt::BitmapCursor);
        QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
        QCOMPARE(window.list().listPointer(), int(gq::kListPointerArrow));
        QVERIFY(!window.viewport()->testAttribute(Qt::WA_SetCursor));
    }
    // Damaged, then missing: the pointer stays, the drag still works.
    gqtest::WriteFile((program + "/drag.ico").toStdString(), "not an icon");
    for (int round = 0; round < 2; ++round) {
        ShownWindow window(program);
        window.addFiles({"a", "b"});
        QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
        QCOMPARE(window.list().listPointer(), int(gq::kListPointerNone));
        DragTo(window.viewport(), window.rowCentre(2));
        QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, window.rowCentre(2));
        QCOMPARE(window.list().entryTexts(), (QStringList{"b", "a"}));
        QVERIFY(window.prompts.records.empty());
        QFile::remove(program + "/drag.ico");
    }
}

void FileListTest::draggingPastTheEdgeScrolls() {
    ShownWindow window;
    gq::FileList& list = window.list();
    QStringList names;
    for (int i = 1; i <= 40; ++i)
        names << QStringLiteral("entry %1").arg(i);
    window.addFiles(names);
    QScrollBar* bar = list.verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    int height = window.viewport()->height();
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, window.rowCentre(1));
    for (int step = 0; step < 20; ++step)
        DragTo(window.viewport(), QPoint(5, height + 10));
    int at = list.dragIndex();
    QVERIFY2(at > 15, qPrintable(QString::number(at)));
    QCOMPARE(list.entryText(at), QString("entry 1"));
    QVERIFY(bar->value() > 0);
    QVERIFY(window.viewport()->rect().intersects(list.visualItemRect(list.topLevelItem(at - 1))));
    // Inside the rows nothing scrolls; above them the list scrolls back up.
    int top = bar->value();
    DragTo(window.viewport(), QPoint(5, height / 2));
    QCOMPARE(bar->value(), top);
    for (int step = 0; step < 40; ++step)
        DragTo(window.viewport(), QPoint(5, -10));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, QPoint(5, -10));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(list.entryText(1), QString("entry 1"));
    QCOMPARE(list.entryCount(), 40);
}

void FileListTest::folderScanOrderAndFilters() {
    makeTree();
    Window window;
    QVERIFY(window.load());
    // The default extension, then "*", then one typed with a different case.
    window.prompts.inputs = {"xl*", "*", "XLSM"};
    window.prompts.folders = {tree_, tree_ + '/', tree_};
    window.button("PushButton6")->click();
    QStringList byExtension{treeFile(".kept.xlsx"), treeFile("Book.xlsx"),
                            treeFile(".cache/inner.xls"), treeFile("sub/deep.XLSM")};
    QCOMPARE(window.form->fileList()->entryTexts(), byExtension);
    const auto& records = window.prompts.records;
    QCOMPARE(records.size(), 2u);
    QCOMPARE(records[0].kind, ScriptedPrompts::Kind::Input);
    QCOMPARE(records[0].prompt,
             QString("Enter file extension to load:\r\r(* for all files, txt for all txt files, "
                     "doc for all doc files, etc.)"));
    QCOMPARE(records[0].title, QString("Gridquest"));
    QCOMPARE(records[0].defaultText, QString("xl*"));
    QCOMPARE(records[1].kind, ScriptedPrompts::Kind::Folder);
    QCOMPARE(records[1].title, QString("Please select folder:"));
    QCOMPARE(records[1].defaultText, QDir::homePath()); // no folder stored yet
    QCOMPARE(settings_->writes, (QStringList{"Extension=xl*", "LastFolder=" + tree_}));

    window.form->fileList()->clear();
    window.button("PushButton6")->click();
    QCOMPARE(records[3].defaultText, tree_); // the folder browser starts at the last folder
    QCOMPARE(window.form->fileList()->entryTexts(),
             (QStringList{treeFile(".kept.xlsx"), treeFile("Book.xlsx"), treeFile("notes.txt"),
                          treeFile(".cache/inner.xls"), treeFile("sub/deep.XLSM")}));
    window.form->fileList()->clear();
    window.button("PushButton6")->click();
    QCOMPARE(records[4].defaultText, QString("*"));
    QCOMPARE(window.form->fileList()->entryTexts(), QStringList{treeFile("sub/deep.XLSM")});
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(window.prompts.messageTexts().isEmpty());
    QVERIFY(window.form->fileList()->updatesEnabled()); // drawn at every pass again
}

void FileListTest::folderScanIsBusyAndRefusesRemoval() {
    makeTree();
    Window window;
    QVERIFY(window.load());
    window.addFiles({"listed before"});
    window.form->fileList()->setCurrentItem(window.form->fileList()->topLevelItem(0));
    window.prompts.folders = {tree_};
    int pointerDuringScan = -1;
    QTimer::singleShot(0, [&] {
        pointerDuringScan = window.form->mousePointer();
        // The hand over a button changes nothing of the scan's hold on the list.
        gqapptest::MoveOver(window.button("PushButton7"));
        QTest::keyClick(window.form->fileList(), Qt::Key_Delete);
        window.button("PushButton5")->click();
    });
    window.button("PushButton6")->click();
    QCOMPARE(pointerDuringScan, 11);
    QCOMPARE(window.form->mousePointer(), 0);
    QCOMPARE(window.form->fileList()->entryCount(), 5);
    QCOMPARE(window.form->fileList()->entryText(1), QString("listed before"));
}

void FileListTest::unreadableFolderIsLeftOut() {
    if (::geteuid() == 0)
        QSKIP("root reads every folder, so access cannot be denied here");
    QString book = File(treeFile("a/book.xlsx"));
    File(treeFile("b/locked/inside.xlsx"));
    QString after = File(treeFile("c/after.xlsx"));
    QString locked = treeFile("b/locked");
    QFile::setPermissions(locked, QFileDevice::Permissions());
    Window window;
    QVERIFY(window.load());
    window.prompts.folders = {tree_};
    window.button("PushButton6")->click();
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(window.form->fileList()->entryTexts(), (QStringList{book, after}));
    QVERIFY(window.prompts.messageTexts().isEmpty());
}

void FileListTest::cancelledScanChangesNothing() {
    makeTree();
    settings_->store("LastFolder", "/kept/folder");
    Window window;
    QVERIFY(window.load());
    window.prompts.inputs = {""};
    window.button("PushButton6")->click(); // extension cancelled: no folder browser
    QCOMPARE(window.prompts.records.size(), 1u);
    window.prompts.inputs = {"txt"};
    window.button("PushButton6")->click(); // folder browser cancelled
    QCOMPARE(window.prompts.records.back().defaultText, QString("/kept/folder"));
    QCOMPARE(window.form->fileList()->entryCount(), 0);
    QCOMPARE(settings_->writes, QStringList{"Extension=txt"});
    QCOMPARE(gq::ReadSetting("LastFolder", QString()), QString("/kept/folder"));
    QCOMPARE(window.form->mousePointer(), 0);
}

void FileListTest::dropsOfFoldersAndFiles() {
    makeTree();
    QString first = File(path("first/x.ods"));
    File(path("first/~lock.ods"));
    QString second = File(path("second/y.csv"));
    QString loose = File(path("~$loose draft.doc"));
    ShownWindow window;
    gq::FileList& list = window.list();
    // Two folders: each folder's files once, every type ("*.*"), in drop order.
    DragAnswer answer = Drop(window.viewport(), UriList({path("first"), path("second")}).get());
    QVERIFY(answer.accepted);
    QCOMPARE(answer.action, Qt::CopyAction); // never a move, which would delete the originals
    QCOMPARE(list.entryTexts(), (QStringList{first, second}));
    // A folder, then a file added as delivered, then a path that is gone by now.
    list.clear();
    QString gone = path("gone.xlsx");
    Drop(window.viewport(), UriList({tree_, loose, gone}).get());
    QCOMPARE(list.entryTexts(),
             (QStringList{treeFile(".kept.xlsx"), treeFile("Book.xlsx"), treeFile("notes.txt"),
                          treeFile(".cache/inner.xls"), treeFile("sub/deep.XLSM"), loose, gone}));
    // A drop does not make the window busy, and removal works on what it added.
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(window.prompts.records.empty());
}

void FileListTest::dropsOfAnythingElseAreRefused() {
    ShownWindow window;
    QMimeData text;
    text.setText("/tmp/looks/like/a/path.xlsx");
    QMimeData web;
    web.setUrls({QUrl("https://example.org/book.xlsx")});
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(path("a.xlsx")), QUrl("https://example.org/b.xlsx")});
    for (QMimeData* data : {&text, &web, &mixed}) {
        QVERIFY(!Enter(window.viewport(), data).accepted);
        QDragMoveEvent move(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.viewport(), &move);
        QVERIFY(!move.isAccepted());
        QVERIFY(!Drop(window.viewport(), data).accepted);
    }
    QCOMPARE(window.list().entryCount(), 0);
}

void FileListTest::snapshotRoundTripAndLoadingTwice() {
    QString program = Folder(path("program"));
    QStringList samples;
    for (const char* name : {"Price List.xlsx", "Café Orders.ods", "addresses.xls"})
        samples << File(program + "/Samples/" + name);
    Folder(program + "/Samples/not a file");
    gq::SaveSampleSnapshot(program);
    QString stored = gq::ReadSetting("Snapshot", QString());
    QVERIFY(!stored.isEmpty());
    QVERIFY(!stored.contains("Samples"));
    // Listing order: case-insensitive names.
    QStringList expected{samples[2], samples[1], samples[0]};
    QCOMPARE(QString::fromUtf8(gq::UnscrambleText(stored.toLatin1(), gq::kSnapshotKey)),
             expected.join('|'));

    Window window(program);
    QVERIFY(window.load());
    QCOMPARE(gq::ReadSetting("Snapshot", QString()), stored); // start-up keeps a stored one
    window.prompts.answers = {gq::Answer::Yes, gq::Answer::No};
    window.button("PushButton9")->click();
    QCOMPARE(window.form->fileList()->entryTexts(), expected);
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString("ea"));
    QVERIFY(window.option(3)->isChecked());
    QCOMPARE(window.prompts.records.size(), 2u);
    const gq::Message& question = window.prompts.records[0].message;
    QCOMPARE(question.text,
             QString("Would you like this software to open the folder where these sample files "
                     "are stored (so that you can view them before working with them)?"));
    QCOMPARE(question.buttons, gq::MessageButtons::YesNo);
    QCOMPARE(question.title, QString("Gridquest"));
    QCOMPARE(window.prompts.records[1].kind, ScriptedPrompts::Kind::OpenFolder);
    QCOMPARE(window.prompts.records[1].path, program + "/Samples/");

    // Again: nothing doubled, the question asked again, and No opens nothing.
    window.button("PushButton9")->click();
    QCOMPARE(window.form->fileList()->entryTexts(), expected);
    QCOMPARE(window.prompts.records.size(), 3u);
    QCOMPARE(window.prompts.records[2].kind, ScriptedPrompts::Kind::Message);
    // A sample the user removed comes back, at the end.
    window.form->fileList()->setCurrentItem(window.form->fileList()->topLevelItem(0));
    QTest::keyClick(window.form->fileList(), Qt::Key_Delete);
    window.prompts.answers = {gq::Answer::No};
    window.button("PushButton9")->click();
    QCOMPARE(window.form->fileList()->entryTexts(),
             (QStringList{expected[1], expected[2], expected[0]}));
}

void FileListTest::removedSampleIsSkipped() {
    QString program = Folder(path("program"));
    QString kept = File(program + "/Samples/kept.xlsx");
    QString removed = File(program + "/Samples/removed.xlsx");
    gq::SaveSampleSnapshot(program);
    QFile::remove(removed);
    File(program + "/Samples/added later.xlsx"); // not in the snapshot
    Window window(program);
    QVERIFY(window.load());
    window.prompts.answers = {gq::Answer::No};
    window.button("PushButton9")->click();
    QCOMPARE(window.form->fileList()->entryTexts(), QStringList{kept});
    QVERIFY(window.prompts.messageTexts().size() == 1); // the question, no report
}

void FileListTest::missingSnapshotLoadsNothing() {
    Window window;
    QVERIFY(window.load());
    window.button("PushButton9")->click();
    QCOMPARE(window.form->fileList()->entryCount(), 0);
    QCOMPARE(window.prompts.messageTexts().size(), 1); // the offer is still made
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString("ea"));
    // Yes was the default answer: the folder is asked for even though it is not there.
    QCOMPARE(window.prompts.records.back().kind, ScriptedPrompts::Kind::OpenFolder);
}

void FileListTest::samplesFolderThatCannotBeShownIsNamed() {
    Window window;
    QVERIFY(window.load());
    window.prompts.openedFolders = {false};
    window.button("PushButton9")->click();
    QCOMPARE(window.prompts.records[1].kind, ScriptedPrompts::Kind::OpenFolder);
    const QStringList messages = window.prompts.messageTexts();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[1], "No file manager could open the folder. The sample files are stored "
                          "in:\r\r" +
                              window.folder.path() + "/Samples/");
    QCOMPARE(window.prompts.records.back().message.title, QString("Gridquest"));
}

void FileListTest::startUpRecordsTheSamplesBesideTheProgram() {
    QString program = Folder(path("program"));
    QString sample = File(program + "/Samples/one.xlsx");
    gq::ScriptedPrompts prompts;
    auto start = [&] {
        gq::Form1Setup setup;
        setup.prompts = &prompts;
        setup.programFolder = program;
        setup.timeSliceMs = 0;
        setup.sheetSocketName = QStringLiteral("gridquest-sheet-filelist-%1").arg(::getpid());
        gq::Form1 form(std::move(setup));
        QVERIFY(form.formLoad());
    };
    // No samples: nothing to record, so the next start tries again.
    QFile::rename(program + "/Samples", program + "/Elsewhere");
    start();
    QCOMPARE(gq::ReadSetting("Snapshot", "missing"), QString());
    QFile::rename(program + "/Elsewhere", program + "/Samples");
    start();
    QByteArray stored = gq::ReadSetting("Snapshot", QString()).toLatin1();
    QCOMPARE(QString::fromUtf8(gq::UnscrambleText(stored, gq::kSnapshotKey)), sample);
    File(program + "/Samples/two.xlsx");
    start(); // a stored snapshot is kept
    QCOMPARE(gq::ReadSetting("Snapshot", QString()).toLatin1(), stored);
}

void FileListTest::scramblingIsReversible() {
    QByteArray key = gq::kSnapshotKey;
    QCOMPARE(key.size(), 8);
    for (char c : key)
        QVERIFY(c >= 'a' && c <= 'z');
    QByteArray every;
    for (int c = 1; c <= 255; ++c)
        every += static_cast<char>(c);
    for (const QByteArray& text :
         {every, QByteArray(), QByteArray("/opt/gridquest/Samples/Caf\xC3\xA9.ods|/x")}) {
        QByteArray scrambled = gq::ScrambleText(text, key);
        QCOMPARE(scrambled.size(), text.size());
        QVERIFY(!scrambled.contains('\0'));
        QCOMPARE(gq::UnscrambleText(scrambled, key), text);
        // Through the settings store as well.
        gq::WriteSetting("Snapshot", QString::fromLatin1(scrambled));
        QCOMPARE(gq::ReadSetting("Snapshot", QString()).toLatin1(), scrambled);
    }
    // The sums 255 and 256 give 255 and 1.
    QCOMPARE(gq::ScrambleText(QByteArray(1, char(255 - 'a')), "a"), QByteArray(1, char(255)));
    QCOMPARE(gq::ScrambleText(QByteArray(1, char(256 - 'a')), "a"), QByteArray(1, char(1)));
    QCOMPARE(gq::UnscrambleText("\x01", "a"), QByteArray(1, char(256 - 'a')));
}

GQ_APP_TEST_MAIN(FileListTest)
#include "filelist_test.moc"
