#include "Settings.h"

#include "Error.h"

#include <QHash>
#include <QSet>
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

// Values that their file refused, by file and key: the session goes on with them.
struct Unsaved {
    QHash<QString, QString> values;
    QSet<QString> reported;
};

Unsaved& UnsavedValues() {
    static Unsaved unsaved;
    return unsaved;
}

QString UnsavedKey(const QSettings& store, const QString& key) {
    return store.fileName() + QLatin1Char('\n') + key;
}

} // namespace

QString ReadSetting(const QString& key, const QString& defaultValue) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization);
    auto unsaved = UnsavedValues().values.constFind(UnsavedKey(store, key));
    if (unsaved != UnsavedValues().values.constEnd())
        return unsaved.value();
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
    Unsaved& unsaved = UnsavedValues();
    const QString unsavedKey = UnsavedKey(store, key);
    if (store.status() != QSettings::NoError) {
        unsaved.values.insert(unsavedKey, value);
        if (unsaved.reported.contains(unsavedKey))
            return;
        unsaved.reported.insert(unsavedKey);
        throw Error("The setting " + key.toStdString() + " cannot be saved in " +
                    store.fileName().toStdString() +
                    ": it is kept until the program ends, and this is not reported again");
    }
    unsaved.values.remove(unsavedKey);
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
