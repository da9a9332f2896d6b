#include "AppTestSupport.h"

#include "ResultsModel.h"
#include "Settings.h"

#include <QComboBox>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTreeWidget>

#include <unistd.h>

namespace gqapptest {

void IsolateUserFolders() {
    static QTemporaryDir home;
    if (!home.isValid())
        qFatal("cannot create a temporary folder for the settings");
    QByteArray path = home.path().toLocal8Bit();
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("XDG_RUNTIME_DIR", path);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

SettingsSandbox::SettingsSandbox() {
    if (!dir_.isValid())
        qFatal("cannot create a temporary settings folder");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
    gq::ObserveSettingWrites(
        [this](const QString& key, const QString& value) { writes << key + '=' + value; });
}

SettingsSandbox::~SettingsSandbox() {
    gq::ObserveSettingWrites({});
}

void SettingsSandbox::store(const QString& key, const QString& value) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, gq::kSettingsOrganization);
    settings.setValue(QString::fromLatin1(gq::kSettingsSection) + '/' + key, value);
    settings.sync();
}

QString SettingsSandbox::iniText() const {
    QFile file(gq::SettingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

Window::Window(const QString& programFolder) {
    static int windows = 0;
    socketName = QStringLiteral("gridquest-sheet-test-%1-%2").arg(::getpid()).arg(++windows);
    gq::Form1Setup setup;
    setup.prompts = &prompts;
    setup.programFolder = programFolder.isEmpty() ? folder.path() : programFolder;
    setup.timeSliceMs = 0;
    setup.sheetSocketName = socketName;
    setup.saveSampleSnapshot = [this] { ++snapshotRuns; };
    form = std::make_unique<gq::Form1>(std::move(setup));
}

QPushButton* Window::button(const char* name) const {
    auto* found = form->findChild<QPushButton*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no button %s", name);
    return found;
}

QRadioButton* Window::option(int number) const {
    auto* found = form->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(number));
    if (!found)
        qFatal("no option %d", number);
    return found;
}

void Window::addFiles(const QStringList& paths) {
    for (const QString& path : paths)
        new QTreeWidgetItem(form->fileList(), QStringList{path});
}

QStringList Window::comboItems() const {
    auto* combo = form->findChild<QComboBox*>(QStringLiteral("Combo1"));
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

ShownWindow::ShownWindow(const QString& programFolder) : Window(programFolder) {
    if (!load())
        qFatal("start-up ended");
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qFatal("the window was not shown");
}

QWidget* ShownWindow::viewport() const {
    return list().viewport();
}

QPoint ShownWindow::rowCentre(int index) const {
    return list().visualItemRect(list().topLevelItem(index - 1)).center();
}

void DragTo(QWidget* viewport, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(viewport->mapToGlobal(at)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

void MoveOver(QWidget* widget, QPoint at) {
    if (at == QPoint(-1, -1))
        at = widget->rect().center();
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QStringList ResultTexts(const gq::Form1& form) {
    QStringList texts;
    gq::ResultsModel* results = form.results();
    results->flush();
    for (std::size_t i = 0; i < results->totalCount(); ++i) {
        gq::ResultRow row = results->rowAt(i);
        texts << QString::fromStdString(row.sheet + '|' + row.location + '|' + row.cellText + '|' +
                                        row.row + '|' + row.col);
    }
    return texts;
}

} // namespace gqapptest
