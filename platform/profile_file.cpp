// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/profile_file.h"

#include <QSettings>
#include <QStandardPaths>

QString ProfileFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pagemint/pagemint.ini");
}

namespace {

QString SettingsKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

QString ReadProfileString(const QString &section, const QString &key, const QString &defaultValue)
{
    QSettings settings(ProfileFilePath(), QSettings::IniFormat);
    return settings.value(SettingsKey(section, key), defaultValue).toString();
}

void WriteProfileString(const QString &section, const QString &key, const QString &value)
{
    QSettings settings(ProfileFilePath(), QSettings::IniFormat);
    settings.setValue(SettingsKey(section, key), value);
    settings.sync();
}
