// The build installed as a user installs it: once with DESTDIR under the prefix it was configured
// with, once with --prefix elsewhere. Checks the tree, the desktop files, and the installed
// programs at work.
#include "FileIntake.h"
#include "Pointers.h"

#include <QDirIterator>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kId = QStringLiteral("example.norvane.Gridquest");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run RunProgram(const QString& program, const QStringList& args,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Every file under `root`, relative to it, sorted.
QStringList FilesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QStringList SampleNames(const QStringList& patterns) {
    return QDir(QStringLiteral(GQ_SAMPLES_SOURCE)).entryList(patterns, QDir::Files, QDir::Name);
}

// The keys of a desktop entry's one group.
QHash<QString, QString> DesktopEntry(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
    return keys;
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installsTheHierarchyUnderEitherPrefix();
    void desktopFilesAgreeAndPassTheirValidators();
    void manualPageDescribesEveryOption();
    void installedWindowRecordsTheInstalledSamples();
    void installedCommandSearchesTheInstalledSamples();
    void windowIconIsTheInstalledImage();

private:
    QTemporaryDir dir_;
    QString staged_; // DESTDIR + the configured prefix
    QString prefix_; // --prefix
};

void InstallTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), dir_.filePath(QStringLiteral("stage")));
    Run staged = RunProgram(QStringLiteral(GQ_CMAKE), {QStringLiteral("--install"), GQ_BUILD_DIR},
                            environment);
    QVERIFY2(staged.exitCode == 0, qPrintable(staged.out + staged.err));
    staged_ = dir_.filePath(QStringLiteral("stage")) + QStringLiteral(GQ_INSTALL_PREFIX);

    environment.remove(QStringLiteral("DESTDIR"));
    prefix_ = dir_.filePath(QStringLiteral("prefix"));
    Run prefixed =
        RunProgram(QStringLiteral(GQ_CMAKE),
                   {QStringLiteral("--install"), GQ_BUILD_DIR, QStringLiteral("--prefix"), prefix_},
                   environment);
    QVERIFY2(prefixed.exitCode == 0, qPrintable(prefixed.out + prefixed.err));
}

void InstallTest::installsTheHierarchyUnderEitherPrefix() {
    QStringList expected = {
        QStringLiteral("bin/gridquest"),
        QStringLiteral("bin/gridquest-find"),
        QStringLiteral("bin/gridquest-sheet"),
        QStringLiteral("share/applications/%1.desktop").arg(kId),
        QStringLiteral("share/applications/%1.Sheet.desktop").arg(kId),
        QStringLiteral("share/gridquest/HAND-M.CUR"),
        QStringLiteral("share/gridquest/drag.ico"),
        QStringLiteral("share/icons/hicolor/48x48/apps/%1.png").arg(kId),
        QStringLiteral("share/icons/hicolor/256x256/apps/%1.png").arg(kId),
        QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kId),
        QStringLiteral("share/man/man1/gridquest-find.1.gz"),
        QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kId),
    };
    const QStringList samples = SampleNames({"*.xlsx", "*.xls", "*.ods"});
    QVERIFY(samples.size() >= 3);
    for (const QString& sample : samples)
        expected << QStringLiteral("share/gridquest/Samples/") + sample;
    expected.sort();
    for (const QString& root : {staged_, prefix_}) {
        QCOMPARE(FilesUnder(root), expected);
        for (const char* program : {"gridquest", "gridquest-sheet", "gridquest-find"})
            QVERIFY(QFileInfo(root + "/bin/" + program).isExecutable());
    }
}

void InstallTest::desktopFilesAgreeAndPassTheirValidators() {
    const QString applications = prefix_ + QStringLiteral("/share/applications/");
    auto window = DesktopEntry(applications + kId + ".desktop");
    QCOMPARE(window.value("Name"), QStringLiteral("Gridquest"));
    QCOMPARE(window.value("GenericName"), QStringLiteral("Spreadsheet Search"));
    QCOMPARE(window.value("Categories"), QStringLiteral("Office;Spreadsheet;Utility;"));
    auto sheet = DesktopEntry(applications + kId + ".Sheet.desktop");
    QCOMPARE(sheet.value("NoDisplay"), QStringLiteral("true"));
    for (const char* type : {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                             "application/vnd.ms-excel;",
                             "application/vnd.oasis.opendocument"
                             ".spreadsheet;"})
        QVERIFY2(sheet.value("MimeType").contains(QLatin1String(type)), type);
    // Each entry starts an installed program and shows the installed icon.
    for (const auto& entry : {window, sheet}) {
        QString program = entry.value("Exec").section(QLatin1Char(' '), 0, 0);
        QVERIFY2(QFileInfo(prefix_ + "/bin/" + program).isExecutable(), qPrintable(program));
        QCOMPARE(entry.value("Icon"), kId);
    }
    const QString metainfo = prefix_ + "/share/metainfo/" + kId + ".metainfo.xml";
    QString description = ReadText(metainfo);
    QVERIFY(description.contains("<id>" + kId + "</id>"));
    QVERIFY(
        description.contains("<launchable type=\"desktop-id\">" + kId + ".desktop</launchable>"));
    QVERIFY(description.contains("<release version=\"" GQ_VERSION "\""));

    QString desktopValidator = QStandardPaths::findExecutable("desktop-file-validate");
    QString appstream = QStandardPaths::findExecutable("appstreamcli");
    if (desktopValidator.isEmpty() || appstream.isEmpty())
        QSKIP("desktop-file-validate or appstreamcli is missing (scripts/install-deps installs "
              "them)");
    for (const QString& entry : {kId + ".desktop", kId + ".Sheet.desktop"}) {
        Run check = RunProgram(desktopValidator, {applications + entry});
        QVERIFY2(check.exitCode == 0 && !check.out.contains("error:"),
                 qPrintable(check.out + check.err));
    }
    Run check = RunProgram(appstream, {"validate", "--no-net", metainfo});
    QVERIFY2(check.exitCode == 0, qPrintable(check.out + check.err));
}

void InstallTest::manualPageDescribesEveryOption() {
    Run page = RunProgram("gzip", {"-dc", staged_ + "/share/man/man1/gridquest-find.1.gz"});
    QCOMPARE(page.exitCode, 0);
    QString text = page.out;
    QVERIFY(text.startsWith(".TH GRIDQUEST-FIND 1 "));
    QVERIFY(text.contains("\"Gridquest " GQ_VERSION "\""));
    for (const char* section : {".SH OPTIONS", ".SH OUTPUT", ".SH EXIT STATUS", ".SH EXAMPLES"})
        QVERIFY2(text.contains(QLatin1String(section)), section);
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    // Whatever --help lists, the page describes.
    Run help = RunProgram(staged_ + "/bin/gridquest-find", {"--help"});
    QCOMPARE(help.exitCode, 0);
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-zA-Z][a-z-]*)"));
    int options = 0;
    for (const auto& match : option.globalMatch(help.out)) {
        ++options;
        QVERIFY2(text.contains(match.captured(1)), qPrintable(match.captured(1)));
    }
    QVERIFY(options > 15);
}

void InstallTest::installedWindowRecordsTheInstalledSamples() {
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkpath("config") && QDir(home.path()).mkpath("runtime"));
    QFile::setPermissions(home.filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    const QString data = prefix_ + "/share/gridquest";
    const QStringList before = FilesUnder(data);

    QProcess window;
    window.setProcessEnvironment(environment);
    window.start(prefix_ + "/bin/gridquest");
    QVERIFY(window.waitForStarted());
    const QString ini = home.filePath("config/Norvane.ini");
    auto snapshot = [&] {
        return QSettings(ini, QSettings::IniFormat).value("Gridquest/Snapshot").toString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!snapshot().isEmpty(), 60000);
    QCOMPARE(window.state(), QProcess::Running);
    window.kill();
    window.waitForFinished();

    QStringList recorded =
        QString::fromUtf8(gq::UnscrambleText(snapshot().toLatin1(), gq::kSnapshotKey))
            .split(QLatin1Char('|'));
    recorded.sort();
    QStringList expected;
    const QString samples = QFileInfo(data).canonicalFilePath() + "/Samples/";
    for (const QString& name : SampleNames({"*.xlsx", "*.xls", "*.ods"}))
        expected << samples + name;
    expected.sort();
    QCOMPARE(recorded, expected);
    // The installed files are the program's to read, never to write.
    QCOMPARE(FilesUnder(data), before);
}

void InstallTest::installedCommandSearchesTheInstalledSamples() {
    Run run = RunProgram(staged_ + "/bin/gridquest-find",
                         {"-c", "ea", staged_ + "/share/gridquest/Samples"});
    QCOMPARE(run.exitCode, 0);
    QStringList counted;
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QVERIFY2(!line.endsWith(":0"), qPrintable(line));
        counted << QFileInfo(line.section(QLatin1Char(':'), 0, -2)).fileName();
    }
    counted.sort();
    QCOMPARE(counted, SampleNames({"*.xlsx", "*.xls"}));
}

void InstallTest::windowIconIsTheInstalledImage() {
    QIcon icon = gq::ApplicationIcon();
    for (int size : {48, 256}) {
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        QImage installed(QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/%3.png")
                             .arg(prefix_)
                             .arg(size)
                             .arg(kId));
        QCOMPARE(installed.size(), QSize(size, size));
        QCOMPARE(icon.pixmap(QSize(size, size))
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 installed.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
}

QTEST_MAIN(InstallTest)
#include "install_test.moc"
