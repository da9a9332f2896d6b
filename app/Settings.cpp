#include "Settings.h"

#include "Error.h"

#include <QSettings>
#include <QStringList>

namespace gq {

namespace {

SettingWriteObserver& Observer() {
    static SettingWriteObserver observer;
    return observer;
}

QString Key(const QString& key) {
    return QString::fromLatin1(kSettingsSection) + QLatin1Char('/') + key;
}

} // namespace

QString ReadSetting(const QString& key, const QString& defaultValue) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization);
    QVariant value = store.value(Key(key));
    if (!value.isValid())
        return defaultValue;
    // A hand-edited value with unquoted commas reads back as a list; it was one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void WriteSetting(const QString& key, const QString& value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization);
    store.setValue(Key(key), value);
    store.sync();
    if (store.status() != QSettings::NoError)
        throw Error("The settings cannot be saved in " + store.fileName().toStdString());
    if (Observer())
        Observer()(key, value);
}

void ObserveSettingWrites(SettingWriteObserver observer) {
    Observer() = std::move(observer);
}

QString SettingsFilePath() {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization);
    return store.fileName();
}

bool TextToBoolean(const QString& text) {
    QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    // Plain decimal notation only: "inf", "nan" and hexadecimal are no numbers here.
    bool isNumber = !trimmed.isEmpty();
    for (QChar c : trimmed)
        if (!(c.isDigit() && c.unicode() < 128) && !QStringLiteral("+-.eE").contains(c))
            isNumber = false;
    double number = isNumber ? trimmed.toDouble(&isNumber) : 0;
    if (!isNumber)
        throw Error("Type mismatch");
    return number != 0;
}

QString BooleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace gq
