// Start-up on a fresh and on a stored state, the layout, the pointer rules, the help texts and
// the end of the program when no spreadsheet instance can be made.
#include "AppTestSupport.h"

#include "Error.h"
#include "ErrorReport.h"
#include "ResultsModel.h"
#include "Settings.h"
#include "SheetAutomation.h"
#include "Spreadsheet.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTreeWidget>

using gqapptest::SettingsSandbox;
using gqapptest::Window;

namespace {

QString Report(const QString& description, const QString& routine, int line) {
    return gq::ErrorReportText(gq::LocationText("Form1", routine), line, description);
}

QList<bool> OptionStates(const Window& window) {
    QList<bool> states;
    for (int n = 1; n <= 6; ++n)
        states << window.option(n)->isChecked();
    return states;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void freshStoreShowsTheDesignState();
    void storedStateIsRestoredWithoutChangingTheStore();
    void unconvertibleValueIsReportedAndLeavesTheDesignState_data();
    void unconvertibleValueIsReportedAndLeavesTheDesignState();
    void snapshotIsRecordedOnlyWhileNoneIsStored();
    void missingSpreadsheetEngineEndsStartUp();
    void everyControlHasItsNameCaptionAndRectangle_data();
    void everyControlHasItsNameCaptionAndRectangle();
    void listsHaveTheirColumnsHintsAndFonts();
    void pointerRules();
    void tabVisitsEveryControlInReadingOrder();
    void customPointerAndSkinComeFromTheProgramFolder();
    void helpAndSpeedMessages();
    void applicationTitle_data();
    void applicationTitle();
    void storedTextToBoolean_data();
    void storedTextToBoolean();
    void errorReportText();
};

void StartupTest::freshStoreShowsTheDesignState() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    QCOMPARE(OptionStates(window), (QList<bool>{false, true, true, false, false, true}));
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString());
    QVERIFY(window.comboItems().isEmpty());
    QCOMPARE(window.form->windowTitle(), QString("Gridquest"));
    QCOMPARE(window.form->applicationTitle(), QString("Gridquest"));
    QCOMPARE(window.form->mousePointer(), 0);
    QVERIFY(window.prompts.records.empty());
    // Restoring the design state changes nothing, so nothing is written.
    QVERIFY(settings.writes.isEmpty());
    QCOMPARE(window.form->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(!window.form->hasCustomPointer());
}

void StartupTest::storedStateIsRestoredWithoutChangingTheStore() {
    SettingsSandbox settings;
    settings.store("Option1", "True");
    settings.store("Option2", "False");
    settings.store("Option3", "False");
    settings.store("Option4", "True");
    settings.store("Option5", "True");
    settings.store("Option6", "False");
    settings.store("Text1", "  tea, bread  ");
    settings.store("FindSets", "::alpha::two words:: spaced ::::x:");
    QString before = settings.iniText();
    Window window;
    QVERIFY(window.load());
    QCOMPARE(OptionStates(window), (QList<bool>{true, false, false, true, true, false}));
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString("  tea, bread  "));
    QCOMPARE(window.comboItems(), (QStringList{"alpha", "two words", " spaced ", "x:"}));
    // The restore raises the handlers of what it turns on; each writes back what was read.
    QCOMPARE(settings.writes,
             (QStringList{"Text1=  tea, bread  ", "Option2=False", "Option1=True", "Option3=False",
                          "Option4=True", "Option6=False", "Option5=True"}));
    QCOMPARE(settings.iniText(), before);
    QVERIFY(window.prompts.records.empty());
}

void StartupTest::unconvertibleValueIsReportedAndLeavesTheDesignState_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<bool>>("expected");
    // The other pair's keys hold the opposite of the design state; the bad key's partner holds
    // its design value, so the bad key alone decides its own button.
    QTest::newRow("Option1") << 1 << "maybe" << QList<bool>{false, true, false, true, true, false};
    QTest::newRow("Option3") << 3 << "yes" << QList<bool>{true, false, true, false, true, false};
    QTest::newRow("Option6") << 6 << "" << QList<bool>{true, false, false, true, false, true};
}

void StartupTest::unconvertibleValueIsReportedAndLeavesTheDesignState() {
    QFETCH(int, option);
    QFETCH(QString, stored);
    QFETCH(QList<bool>, expected);
    SettingsSandbox settings;
    const char* opposite[] = {"", "True", "False", "False", "True", "True", "False"};
    const char* design[] = {"", "False", "True", "True", "False", "False", "True"};
    int partner = option % 2 ? option + 1 : option - 1;
    for (int n = 1; n <= 6; ++n)
        settings.store(QString("Option%1").arg(n), n == option    ? stored
                                                   : n == partner ? design[n]
                                                                  : opposite[n]);
    settings.store("Text1", "kept");
    Window window;
    QVERIFY(window.load());
    QCOMPARE(window.prompts.messageTexts(),
             QStringList{Report("Type mismatch", "Form_Load", 118 + 2 * option)});
    const gq::Message& report = window.prompts.records.front().message;
    QCOMPARE(report.title, QString("Application Error"));
    QCOMPARE(report.icon, gq::MessageIcon::Exclamation);
    QCOMPARE(report.buttons, gq::MessageButtons::Ok);
    QCOMPARE(OptionStates(window), expected);
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString("kept"));
}

void StartupTest::snapshotIsRecordedOnlyWhileNoneIsStored() {
    SettingsSandbox settings;
    {
        Window first;
        QVERIFY(first.load());
        QCOMPARE(first.snapshotRuns, 1);
    }
    settings.store("Snapshot", "recorded");
    Window later;
    QVERIFY(later.load());
    QCOMPARE(later.snapshotRuns, 0);
}

void StartupTest::missingSpreadsheetEngineEndsStartUp() {
    SettingsSandbox settings;
    settings.store("Text1", "not restored");
    settings.store("FindSets", "::not restored");
    gq::SpreadsheetApplication::failCreationForTesting(true);
    Window window;
    bool goesOn = window.load();
    gq::SpreadsheetApplication::failCreationForTesting(false);
    QVERIFY(!goesOn);
    QCOMPARE(window.prompts.records.size(), std::size_t{1});
    const gq::Message& message = window.prompts.records.front().message;
    QVERIFY(message.text.startsWith(
        "Error 842001. A normal instance of Excel could not be created.\r\n\r\n1. Please make "
        "sure Excel is installed on this computer.\r\n\r\n2. "));
    QVERIFY(message.text.endsWith("\r\n\r\n4. All versions of Excel are supported by this "
                                  "software except for the rare Excel Starter and Student "
                                  "editions."));
    QCOMPARE(message.text.count("\r\n\r\n"), 4);
    QCOMPARE(message.icon, gq::MessageIcon::None);
    QCOMPARE(message.title, QString("Gridquest"));
    // The steps after the check never ran.
    QCOMPARE(window.form->findChild<QLineEdit*>("Text1")->text(), QString());
    QVERIFY(window.comboItems().isEmpty());
}

void StartupTest::everyControlHasItsNameCaptionAndRectangle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    auto row = [](const char* name, const char* caption, int l, int t, int w, int h) {
        QTest::newRow(name) << QString(name) << QString(caption) << QRect(l, t, w, h);
    };
    row("ListView1", "", 120, 120, 7800, 1575);
    row("PushButton1", "Add Excel File(s)", 120, 1800, 3840, 405);
    row("PushButton6", "Add All Excel File(s) In Folder", 4080, 1800, 3840, 405);
    row("PushButton5", "Clear List", 120, 2310, 3840, 405);
    row("PushButton9", "Load Sample/Example Files", 4080, 2310, 3840, 405);
    row("Frame1", "Search Options", 120, 2745, 7800, 1290);
    row("Frame3", "Search Speed Option", 120, 4125, 7800, 720);
    row("Frame2", "Case Options", 120, 4920, 7800, 720);
    row("PushButton7", "Start Searching", 8040, 120, 7800, 405);
    row("ListView2", "", 8040, 630, 7800, 2985);
    row("PushButton3", "Open Selected File / Goto To Cell", 8040, 3690, 3840, 405);
    row("PushButton2", "Clear Results", 12000, 3690, 3840, 405);
    row("PushButton4", "Save Results As Text File", 8040, 4200, 3840, 405);
    row("PushButton13", "Save Results As Excel File", 12000, 4200, 3840, 405);
    row("PushButton8", "Copy Results To Clipboard", 8040, 4710, 3840, 405);
    row("PushButton16", "Help", 12000, 4710, 3840, 405);
    row("ProgressBar1", "Progress Bar", 8040, 5220, 7800, 405);
    row("Option3", "Search for this:", 240, 345, 1695, 255);
    row("Text1", "", 2400, 300, 5160, 345);
    row("Option4", "Search for multiple:", 240, 805, 2055, 255);
    row("Combo1", "", 2400, 760, 2760, 345);
    row("PushButton12", "+", 5280, 765, 360, 345);
    row("PushButton14", "-", 5760, 765, 360, 345);
    row("PushButton17", "Load", 6240, 765, 750, 345);
    row("PushButton15", "Clr", 7100, 765, 460, 345);
    row("Option6", "Retrieve cell locations", 240, 300, 2445, 300);
    row("Option5", "Do not retrieve cell locations (faster)", 3000, 300, 3645, 300);
    row("PushButton10", "?", 7080, 240, 480, 345);
    row("Option2", "Ignore case", 240, 300, 1365, 285);
    row("Option1", "Match case", 1800, 300, 1365, 300);
}

void StartupTest::everyControlHasItsNameCaptionAndRectangle() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    auto* control = window.form->findChild<QWidget*>(name);
    QVERIFY(control);
    int dpiX = window.form->logicalDpiX(), dpiY = window.form->logicalDpiY();
    QCOMPARE(control->geometry(),
             QRect(gq::TwipsToPixels(twips.x(), dpiX), gq::TwipsToPixels(twips.y(), dpiY),
                   gq::TwipsToPixels(twips.width(), dpiX),
                   gq::TwipsToPixels(twips.height(), dpiY)));
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        shown = button->text();
    else if (auto* frame = qobject_cast<QGroupBox*>(control))
        shown = frame->title();
    else if (auto* bar = qobject_cast<QProgressBar*>(control))
        shown = bar->text();
    QCOMPARE(shown, caption);
    if (qobject_cast<QPushButton*>(control)) {
        QCOMPARE(control->font().pointSizeF(), 11.25);
        QVERIFY(control->font().bold());
    }
    QCOMPARE(window.form->size(),
             QSize(gq::TwipsToPixels(15960, dpiX), gq::TwipsToPixels(5745, dpiY)));
}

void StartupTest::listsHaveTheirColumnsHintsAndFonts() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    int dpi = window.form->logicalDpiX();
    QTreeWidget* files = window.form->fileList();
    QCOMPARE(files->columnCount(), 1);
    QCOMPARE(files->headerItem()->text(0), QString("Excel File(s)"));
    QCOMPARE(files->header()->sectionSize(0), gq::TwipsToPixels(7000, dpi));
    QHeaderView* header = window.form->resultsView()->horizontalHeader();
    QCOMPARE(gq::ResultsModel::headers(),
             (QStringList{"File", "Sheet", "Location", "Cell Text", "row", "col"}));
    const int widths[] = {2700, 1300, 1200, 2000, 1, 1};
    for (int column = 0; column < 6; ++column) {
        QCOMPARE(window.form->results()->headerData(column, Qt::Horizontal).toString(),
                 gq::ResultsModel::headers().at(column));
        QCOMPARE(header->sectionSize(column), std::max(1, gq::TwipsToPixels(widths[column], dpi)));
    }
    QCOMPARE(files->toolTip(), QString("Drag and drop files here. Double-click item to remove it. "
                                       "Move | line to right and out of window to reveal full "
                                       "names."));
    QCOMPARE(window.form->resultsView()->toolTip(),
             QString("Move | line to right and out of window to reveal full names."));
    QCOMPARE(window.button("PushButton14")->toolTip(), QString("Remove selected item"));
    for (QWidget* list :
         {static_cast<QWidget*>(files), static_cast<QWidget*>(window.form->resultsView()),
          static_cast<QWidget*>(window.form.get())}) {
        QCOMPARE(list->font().pointSizeF(), 9.0);
        QVERIFY(list->font().bold());
        QCOMPARE(list->font().family(), QString("Arial"));
    }
}

void StartupTest::pointerRules() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    gq::Form1& form = *window.form;
    auto* frame1 = form.findChild<QGroupBox*>("Frame1");
    QPushButton* button = window.button("PushButton1");
    QPushButton* startStop = window.button("PushButton7");

    gqapptest::MoveOver(button);
    QCOMPARE(form.mousePointer(), 99);
    gqapptest::MoveOver(frame1, QPoint(2, frame1->height() - 2));
    QCOMPARE(form.mousePointer(), 0);
    gqapptest::MoveOver(window.button("PushButton15"));
    QCOMPARE(form.mousePointer(), 99);
    gqapptest::MoveOver(form.resultsView()->viewport());
    QCOMPARE(form.mousePointer(), 0);
    gqapptest::MoveOver(window.button("PushButton10"));
    gqapptest::MoveOver(form.fileList()->viewport());
    QCOMPARE(form.mousePointer(), 0);
    // A control without a rule of its own leaves the pointer as it is, even inside a frame.
    gqapptest::MoveOver(button);
    gqapptest::MoveOver(window.option(3));
    QCOMPARE(form.mousePointer(), 99);
    gqapptest::MoveOver(&form, QPoint(2, 2));
    QCOMPARE(form.mousePointer(), 0);
    // The lists' rule covers their column headers.
    for (QHeaderView* header :
         {form.fileList()->header(), form.resultsView()->horizontalHeader()}) {
        gqapptest::MoveOver(button);
        gqapptest::MoveOver(header->viewport(), QPoint(3, 3));
        QCOMPARE(form.mousePointer(), 0);
    }

    // Busy: only the start/stop button changes it.
    form.setMousePointer(11);
    gqapptest::MoveOver(button);
    gqapptest::MoveOver(&form, QPoint(2, 2));
    gqapptest::MoveOver(frame1, QPoint(2, frame1->height() - 2));
    gqapptest::MoveOver(form.resultsView()->horizontalHeader()->viewport(), QPoint(3, 3));
    QCOMPARE(form.mousePointer(), 11);
    QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
    gqapptest::MoveOver(startStop);
    QCOMPARE(form.mousePointer(), 99);
    // Without a pointer image the custom pointer is the arrow.
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
}

void StartupTest::tabVisitsEveryControlInReadingOrder() {
    SettingsSandbox settings;
    gqapptest::ShownWindow window;
    window.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    window.addFiles({"a.xlsx", "b.xlsx"});
    window.form->results()->append({"a.xlsx", "S", "A1", "tea", "1", "1"});
    window.form->results()->append({"a.xlsx", "S", "A2", "tea", "2", "1"});
    window.form->results()->flush();
    // An option group is one stop, at its selected button; arrows choose within it.
    const QStringList order{"ListView1",    "PushButton1",  "PushButton6",  "PushButton5",
                            "PushButton9",  "Option3",      "Text1",        "Combo1",
                            "PushButton12", "PushButton14", "PushButton17", "PushButton15",
                            "Option6",      "PushButton10", "Option2",      "PushButton7",
                            "ListView2",    "PushButton3",  "PushButton2",  "PushButton4",
                            "PushButton13", "PushButton8",  "PushButton16", "ListView1"};
    auto focused = [] {
        QWidget* widget = QApplication::focusWidget();
        return widget ? widget->objectName() : QString();
    };
    window.form->fileList()->setFocus(Qt::OtherFocusReason);
    QStringList forward{focused()};
    for (int step = 1; step < order.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << focused();
    }
    QCOMPARE(forward, order);
    QStringList backward{focused()};
    for (int step = 1; step < order.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        backward << focused();
    }
    std::reverse(backward.begin(), backward.end());
    QCOMPARE(backward, order);
    // Passing the term list on the way chose nothing: the typed search stays the search.
    QVERIFY(window.option(3)->isChecked());
    QVERIFY(settings.writes.isEmpty());
    // Inside a list the arrows move, and Tab leaves it from any row.
    QTableView* results = window.form->resultsView();
    results->setFocus(Qt::OtherFocusReason);
    results->setCurrentIndex(results->model()->index(0, 0));
    QTest::keyClick(results, Qt::Key_Down);
    QCOMPARE(results->currentIndex().row(), 1);
    QTest::keyClick(results, Qt::Key_Tab);
    QCOMPARE(focused(), QString("PushButton3"));
    gq::FileList& files = window.list();
    files.setFocus(Qt::OtherFocusReason);
    files.setCurrentItem(files.topLevelItem(0));
    QTest::keyClick(&files, Qt::Key_Down);
    QCOMPARE(files.currentItem()->text(0), QString("b.xlsx"));
    QTest::keyClick(&files, Qt::Key_Tab);
    QCOMPARE(focused(), QString("PushButton1"));
}

void StartupTest::customPointerAndSkinComeFromTheProgramFolder() {
    SettingsSandbox settings;
    QTemporaryDir program;
    QVERIFY(QFile::copy(GQ_POINTER_IMAGE, program.filePath("HAND-M.CUR")));
    QVERIFY(QDir(program.path()).mkdir("x"));
    QFile skin(program.filePath("x/o.cjs"));
    QVERIFY(skin.open(QIODevice::WriteOnly));
    skin.write("QPushButton { color: #102030; }");
    skin.close();
    Window window(program.path());
    QVERIFY(window.load());
    QVERIFY(window.prompts.records.empty());
    QVERIFY(window.form->hasCustomPointer());
    window.form->setMousePointer(99);
    QCOMPARE(window.form->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(window.form->cursor().hotSpot(), QPoint(5, 0));
    QColor face = QApplication::palette().color(QPalette::Button);
    QCOMPARE(window.form->palette().color(QPalette::Window), face);
    QCOMPARE(window.form->findChild<QGroupBox*>("Frame2")->palette().color(QPalette::Window), face);
    QCOMPARE(window.option(5)->palette().color(QPalette::Window), face);
    QVERIFY(window.form->styleSheet().contains("#102030"));

    // A pointer file that holds no image is reported, and the arrow stands in.
    QFile broken(program.filePath("HAND-M.CUR"));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a cursor");
    broken.close();
    Window second(program.path());
    QVERIFY(second.load());
    QCOMPARE(second.prompts.messageTexts().size(), 1);
    QVERIFY(second.prompts.messageTexts().front().contains(
        "\r\nin Findwell2021/08/31.Form1.Form_Load at line 102\r\r"));
    QVERIFY(!second.form->hasCustomPointer());
}

void StartupTest::helpAndSpeedMessages() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.button("PushButton16")->click();
    window.option(6)->setText("Retrieve cell locations now");
    window.button("PushButton10")->click();
    QCOMPARE(window.prompts.messageTexts(),
             (QStringList{"Make sure Excel file or any individual sheets within the file are not "
                          "protected before using.\r\rQuestions? Please contact Team Norvane at "
                          "https://norvane.example/contact/",
                          "Retrieve cell locations now will search and retrieve cell locations. "
                          "\r\nDo not retrieve cell locations (faster) will search faster but not "
                          "retrieve cell locations."}));
    for (const auto& record : window.prompts.records) {
        QCOMPARE(record.message.title, QString("Gridquest"));
        QCOMPARE(record.message.icon, gq::MessageIcon::None);
        QCOMPARE(record.message.buttons, gq::MessageButtons::Ok);
    }
}

void StartupTest::applicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("no space") << "Gridquest"
                              << "Gridquest";
    QTest::newRow("short loses its last word") << "Grid Quest Pro"
                                               << "Grid Quest";
    QTest::newRow("exactly 40 still cut once") << "abcdefghij abcdefghij abcdefghij abcdefg"
                                               << "abcdefghij abcdefghij abcdefghij";
    QTest::newRow("long loses words until 40")
        << "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeee ffff"
        << "aaaaaaaaaa bbbbbbbbbb cccccccccc";
    QTest::newRow("41 characters") << "aaaaaaaaaa bbbbbbbbbb cccccccccc ddddddd e"
                                   << "aaaaaaaaaa bbbbbbbbbb cccccccccc ddddddd";
    QTest::newRow("long single word") << QString(50, 'x') << QString(50, 'x');
}

void StartupTest::applicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(gq::ApplicationTitleFor(name), title);
}

void StartupTest::storedTextToBoolean_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // 1 true, 0 false, -1 conversion error
    const std::pair<const char*, int> cases[] = {
        {"True", 1}, {"FALSE", 0}, {"true", 1}, {" False ", 0}, {"0", 0},    {"1", 1},
        {"-1", 1},   {"2.5", 1},   {"0.0", 0},  {"", -1},       {"yes", -1}, {"1x", -1},
        {"inf", -1}, {"0x10", -1}, {"Tru", -1}, {"-", -1},
    };
    for (const auto& [text, expected] : cases)
        QTest::newRow(text[0] ? text : "(empty)") << QString(text) << expected;
}

void StartupTest::storedTextToBoolean() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    int got = -1;
    try {
        got = gq::TextToBoolean(text) ? 1 : 0;
    } catch (const gq::Error& error) {
        QCOMPARE(QString(error.what()), QString("Type mismatch"));
    }
    QCOMPARE(got, expected);
}

void StartupTest::errorReportText() {
    QCOMPARE(gq::ErrorReportText(gq::LocationText("Form1", "PushButton7_Click"), 154,
                                 "The file does not exist"),
             QString("The file does not exist\r\nin Findwell2021/08/31.Form1.PushButton7_Click at "
                     "line 154\r\rPlease email screenshot of this message to "
                     "support@norvane.example"));
}

GQ_APP_TEST_MAIN(StartupTest)
#include "startup_test.moc"
