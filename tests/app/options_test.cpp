// The option pairs, the search text and the term list's focus rule: what each writes, in which
// order, and what a broken store does.
#include "AppTestSupport.h"

#include "ErrorReport.h"
#include "Settings.h"

#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>

using gqapptest::SettingsSandbox;
using gqapptest::Window;

class OptionsTest : public QObject {
    Q_OBJECT
private slots:
    void clickWritesItsPairInOrder_data();
    void clickWritesItsPairInOrder();
    void arrowKeysInAGroupWriteLikeClicks();
    void typingStoresEveryStateAndSelectsSingleTerm();
    void termListFocusSelectsMultipleTerms();
    void storedChoicesComeBackAtTheNextStart();
    void failedWriteIsReportedOncePerKeyAndKeptInMemory();

private:
    static void click(QRadioButton* option) { QTest::mouseClick(option, Qt::LeftButton); }
    static void focus(QWidget* widget) {
        QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(widget, &in);
    }
};

void OptionsTest::clickWritesItsPairInOrder_data() {
    QTest::addColumn<int>("clicked");
    QTest::addColumn<QStringList>("writes");
    QTest::newRow("Match case") << 1 << QStringList{"Option2=False", "Option1=True"};
    QTest::newRow("Ignore case, already selected")
        << 2 << QStringList{"Option2=True", "Option1=False"};
    QTest::newRow("Search for this, already selected")
        << 3 << QStringList{"Option3=True", "Option4=False"};
    QTest::newRow("Search for multiple") << 4 << QStringList{"Option3=False", "Option4=True"};
    QTest::newRow("Faster") << 5 << QStringList{"Option6=False", "Option5=True"};
    QTest::newRow("Locations, already selected")
        << 6 << QStringList{"Option6=True", "Option5=False"};
}

void OptionsTest::clickWritesItsPairInOrder() {
    QFETCH(int, clicked);
    QFETCH(QStringList, writes);
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.form->show();
    click(window.option(clicked));
    QVERIFY(window.option(clicked)->isChecked());
    QCOMPARE(settings.writes, writes);
    // The file holds the pair too, one True and one False.
    for (const QString& write : writes)
        QVERIFY2(settings.iniText().contains(write), qPrintable(settings.iniText()));
    QVERIFY(window.prompts.records.empty());
}

void OptionsTest::arrowKeysInAGroupWriteLikeClicks() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.form->show();
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    window.option(6)->setFocus();
    QTest::keyClick(window.option(6), Qt::Key_Right);
    QVERIFY(window.option(5)->isChecked());
    QCOMPARE(settings.writes, (QStringList{"Option6=False", "Option5=True"}));
}

void OptionsTest::typingStoresEveryStateAndSelectsSingleTerm() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.form->show();
    auto* text1 = window.form->findChild<QLineEdit*>("Text1");
    click(window.option(4));
    settings.writes.clear();

    QTest::keyClicks(text1, "ab");
    QCOMPARE(settings.writes,
             (QStringList{"Text1=a", "Option3=True", "Option4=False", "Text1=ab"}));
    QVERIFY(window.option(3)->isChecked());
    QCOMPARE(gq::ReadSetting("Text1", "missing"), QString("ab"));

    // Deleting the whole text stores the empty text; a text of spaces is stored untrimmed.
    click(window.option(4));
    settings.writes.clear();
    text1->clear();
    QCOMPARE(settings.writes, (QStringList{"Text1=", "Option3=True", "Option4=False"}));
    QCOMPARE(gq::ReadSetting("Text1", "missing"), QString());
    text1->setText("  x  ");
    QCOMPARE(gq::ReadSetting("Text1", "missing"), QString("  x  "));
    QCOMPARE(window.form->searchText(), std::string("  x  "));
}

void OptionsTest::termListFocusSelectsMultipleTerms() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    auto* combo = window.form->findChild<QComboBox*>("Combo1");
    QCOMPARE(combo->count(), 0);
    focus(combo);
    QVERIFY(window.option(4)->isChecked());
    QVERIFY(!window.option(3)->isChecked());
    QCOMPARE(settings.writes, (QStringList{"Option3=False", "Option4=True"}));
    // Focus again changes nothing, so nothing is written.
    focus(combo);
    QCOMPARE(settings.writes.size(), 2);
}

void OptionsTest::storedChoicesComeBackAtTheNextStart() {
    SettingsSandbox settings;
    {
        Window first;
        QVERIFY(first.load());
        first.form->show();
        click(first.option(1));
        click(first.option(5));
        focus(first.form->findChild<QComboBox*>("Combo1"));
    }
    Window next;
    QVERIFY(next.load());
    for (int n : {1, 4, 5})
        QVERIFY(next.option(n)->isChecked());
    for (int n : {2, 3, 6})
        QVERIFY(!next.option(n)->isChecked());
}

void OptionsTest::failedWriteIsReportedOncePerKeyAndKeptInMemory() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.form->show();
    // A folder where the settings file belongs cannot be written, whoever runs the test.
    QVERIFY(QDir().mkpath(gq::SettingsFilePath()));
    {
        QSettings probe(QSettings::IniFormat, QSettings::UserScope, gq::kSettingsOrganization);
        probe.setValue("Gridquest/Probe", "x");
        probe.sync();
        QCOMPARE(probe.status(), QSettings::AccessError);
    }
    click(window.option(1));
    QStringList reports = window.prompts.messageTexts();
    QCOMPARE(reports.size(), 2); // one per key of the pair
    for (const QString& report : reports)
        QVERIFY(report.contains("\r\nin Findwell2021/08/31.Form1.Option1_Click at line 0\r\r"));
    QVERIFY(reports.front().startsWith("The setting Option2 cannot be saved in " +
                                       gq::SettingsFilePath() + ": it is kept"));
    auto* text1 = window.form->findChild<QLineEdit*>("Text1");
    click(window.option(4));
    window.prompts.clear();
    // Every keystroke writes the text and selects "Search for this:", whose pair writes too: only
    // the text's first failure is new.
    QTest::keyClicks(text1, "zebra");
    QVERIFY(window.option(3)->isChecked());
    QCOMPARE(window.prompts.messageTexts().size(), 1);
    QVERIFY(window.prompts.messageTexts().front().contains("Form1.Text1_Change at line 0"));
    click(window.option(1));
    click(window.option(2));
    QCOMPARE(window.prompts.messageTexts().size(), 1);
    QVERIFY(settings.writes.isEmpty());
    // The session goes on with what it could not store.
    QCOMPARE(gq::ReadSetting("Text1", "missing"), QString("zebra"));
    QCOMPARE(gq::ReadSetting("Option2", "missing"), QString("True"));
    QCOMPARE(gq::ReadSetting("Option3", "missing"), QString("True"));
}

GQ_APP_TEST_MAIN(OptionsTest)
#include "options_test.moc"
