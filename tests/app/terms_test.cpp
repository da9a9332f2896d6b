// The term list: adding, removing, clearing, loading from files, and its rebuild at start-up.
#include "AppTestSupport.h"

#include "Settings.h"
#include "TestFiles.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

using gqapptest::SettingsSandbox;
using gqapptest::Window;

class TermsTest : public QObject {
    Q_OBJECT
private slots:
    void addAsksAndStoresTheWholeList();
    void removeTakesOnlyTheSelectedTerm();
    void clearAsksFirst();
    void loadOneFileKeepsTermsAsWritten();
    void loadSeveralFilesGoesOnPastFailures();
    void cancelledLoadChangesNothing();
    void separatorInsideATermSplitsAtTheNextStart();

private:
    static QComboBox* combo(const Window& window) {
        return window.form->findChild<QComboBox*>("Combo1");
    }
};

void TermsTest::addAsksAndStoresTheWholeList() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.prompts.inputs = {"", "tea", "   "};
    window.button("PushButton12")->click(); // cancelled: nothing to store in an empty list
    QVERIFY(window.comboItems().isEmpty());
    QVERIFY(settings.writes.isEmpty());
    window.button("PushButton12")->click();
    window.button("PushButton12")->click(); // spaces are a term too
    window.button("PushButton12")->click(); // no answer queued: the default answer
    QCOMPARE(window.comboItems(), (QStringList{"tea", "   ", "search for this"}));
    QCOMPARE(gq::ReadSetting("FindSets", "missing"), QString("::tea::   ::search for this"));
    const auto& prompt = window.prompts.records.front();
    QCOMPARE(prompt.kind, gq::ScriptedPrompts::Kind::Input);
    QCOMPARE(prompt.prompt, QString("Enter set:"));
    QCOMPARE(prompt.defaultText, QString("search for this"));
    QCOMPARE(prompt.title, QString("Gridquest"));
    // Adding does not change the mode; nothing is selected in the list by adding.
    QVERIFY(window.option(3)->isChecked());
    QCOMPARE(combo(window)->currentIndex(), -1);
    // A cancelled prompt with terms in the list rewrites the list unchanged.
    settings.writes.clear();
    window.prompts.inputs = {""};
    window.button("PushButton12")->click();
    QCOMPARE(settings.writes, QStringList{"FindSets=::tea::   ::search for this"});
}

void TermsTest::removeTakesOnlyTheSelectedTerm() {
    SettingsSandbox settings;
    settings.store("FindSets", "::a::b::c");
    Window window;
    QVERIFY(window.load());
    window.button("PushButton14")->click(); // nothing selected
    QCOMPARE(window.comboItems(), (QStringList{"a", "b", "c"}));
    QCOMPARE(settings.writes, QStringList{"FindSets=::a::b::c"});
    combo(window)->setCurrentIndex(1);
    window.button("PushButton14")->click();
    QCOMPARE(window.comboItems(), (QStringList{"a", "c"}));
    QCOMPARE(combo(window)->currentIndex(), -1);
    for (int i : {0, 0}) {
        combo(window)->setCurrentIndex(i);
        window.button("PushButton14")->click();
    }
    QVERIFY(window.comboItems().isEmpty());
    QCOMPARE(gq::ReadSetting("FindSets", "missing"), QString());
    Window next;
    QVERIFY(next.load());
    QVERIFY(next.comboItems().isEmpty());
}

void TermsTest::clearAsksFirst() {
    SettingsSandbox settings;
    settings.store("FindSets", "::a::b");
    Window window;
    QVERIFY(window.load());
    window.prompts.answers = {gq::Answer::No, gq::Answer::Yes};
    window.button("PushButton15")->click();
    QCOMPARE(window.comboItems(), (QStringList{"a", "b"}));
    QVERIFY(settings.writes.isEmpty());
    window.button("PushButton15")->click();
    QVERIFY(window.comboItems().isEmpty());
    QCOMPARE(settings.writes, QStringList{"FindSets="});
    QVERIFY(settings.iniText().contains("FindSets=\n"));
    for (const auto& record : window.prompts.records) {
        QCOMPARE(record.message.text, QString("Are you sure you want to clear this list??"));
        QCOMPARE(record.message.buttons, gq::MessageButtons::YesNo);
        QCOMPARE(record.message.icon, gq::MessageIcon::None);
        QCOMPARE(record.message.title, QString("Gridquest"));
    }
}

void TermsTest::loadOneFileKeepsTermsAsWritten() {
    SettingsSandbox settings;
    gqtest::TempDir dir;
    std::string path = dir.path("terms.txt");
    gqtest::WriteFile(path, "tea\r\n\r\n   \r\n bread \r\ncaf\xe9\n");
    Window window;
    QVERIFY(window.load());
    window.prompts.files = {{QString::fromStdString(path)}};
    window.button("PushButton17")->click();
    QCOMPARE(window.comboItems(), (QStringList{"tea", " bread ", QString::fromUtf8("caf\u00e9")}));
    QCOMPARE(gq::ReadSetting("FindSets", "missing"),
             QString::fromUtf8("::tea:: bread ::caf\u00e9"));
    QCOMPARE(window.form->mousePointer(), 0);
    const auto& dialog = window.prompts.records.front();
    QCOMPARE(dialog.kind, gq::ScriptedPrompts::Kind::OpenFiles);
    QCOMPARE(dialog.request.title,
             QString("Load List(s) - Hold Ctrl to select multiple list files"));
    QCOMPARE(dialog.request.filter, QString("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    QCOMPARE(dialog.request.fileName, QString());
}

void TermsTest::loadSeveralFilesGoesOnPastFailures() {
    SettingsSandbox settings;
    settings.store("FindSets", "::kept");
    gqtest::TempDir dir;
    gqtest::WriteFile(dir.path("one.txt"), "one\n");
    gqtest::WriteFile(dir.path("two.txt"), "two\nthree");
    gqtest::WriteFile(dir.path("empty.txt"), "");
    Window window;
    QVERIFY(window.load());
    // A folder exists but cannot be read as a list; a missing file is only "not found".
    QString folder = QString::fromStdString(dir.path(""));
    window.prompts.files = {{QString::fromStdString(dir.path("one.txt")), folder + "//gone.txt",
                             folder, QString::fromStdString(dir.path("empty.txt")),
                             folder + "/two.txt"}};
    QList<int> pointers;
    window.prompts.whileOpen = [&](const auto&) { pointers << window.form->mousePointer(); };
    window.button("PushButton17")->click();
    QCOMPARE(window.comboItems(), (QStringList{"kept", "one", "two", "three"}));
    QCOMPARE(gq::ReadSetting("FindSets", "missing"), QString("::kept::one::two::three"));
    QStringList messages = window.prompts.messageTexts();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0], QString("File not found"));
    QVERIFY(messages[1].contains("\r\nin Findwell2021/08/31.Form1.PushButton17_Click at line 108"));
    // The dialog comes before the busy pointer, both messages while it shows.
    QCOMPARE(pointers, (QList<int>{0, 11, 11}));
    QCOMPARE(window.form->mousePointer(), 0);
}

void TermsTest::cancelledLoadChangesNothing() {
    SettingsSandbox settings;
    Window window;
    QVERIFY(window.load());
    window.button("PushButton17")->click();
    QCOMPARE(window.prompts.records.size(), std::size_t{1});
    QVERIFY(window.comboItems().isEmpty());
    QVERIFY(settings.writes.isEmpty());
    QCOMPARE(window.form->mousePointer(), 0);
}

void TermsTest::separatorInsideATermSplitsAtTheNextStart() {
    SettingsSandbox settings;
    {
        Window first;
        QVERIFY(first.load());
        first.prompts.inputs = {"a::b", "ends:", "next"};
        for (int i = 0; i < 3; ++i)
            first.button("PushButton12")->click();
        QCOMPARE(first.comboItems(), (QStringList{"a::b", "ends:", "next"}));
    }
    Window next;
    QVERIFY(next.load());
    // "::a::b::ends:::next": the colon that ended a term now begins the next one.
    QCOMPARE(next.comboItems(), (QStringList{"a", "b", "ends", ":next"}));
}

GQ_APP_TEST_MAIN(TermsTest)
#include "terms_test.moc"
