#pragma once

#include <QString>

#include <functional>

namespace gq {

inline constexpr const char* kSettingsOrganization = "Norvane";
inline constexpr const char* kSettingsSection = "Gridquest";

// The stored text of `key`, or `defaultValue` when the key does not exist (or the store cannot
// be read: a start with no settings is a first start). A value that could not be written is read
// back as it was given.
QString ReadSetting(const QString& key, const QString& defaultValue);
// Stores the text at once, on disk. When the file cannot be written the value is kept in memory
// for the rest of the session, and gq::Error (naming the file) is thrown for the first such
// failure of each key only: a setting written per keystroke reports once.
void WriteSetting(const QString& key, const QString& value);
// The per-user file the settings live in.
QString SettingsFilePath();

// Called after every successful write, in the order of the writes (tests check that order).
using SettingWriteObserver = std::function<void(const QString& key, const QString& value)>;
void ObserveSettingWrites(SettingWriteObserver observer);

// The text-to-boolean rule of stored values: True and False in any letter case, or a number
// (zero is false, anything else true); surrounding spaces are ignored. Throws gq::Error
// ("Type mismatch") for anything else.
bool TextToBoolean(const QString& text);
// A boolean as it is stored: "True" or "False".
QString BooleanText(bool value);

} // namespace gq
