// The user's preferences over QSettings.
#include "platform/preferences.h"

#include <QSettings>

Preferences &Preferences::instance()
{
    static Preferences preferences;
    return preferences;
}

Preferences::Preferences()
    : m_settings(new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                               QStringLiteral("Kestrion"), QStringLiteral("Kestrion"), this))
{
}

Preferences::~Preferences() = default;

void Preferences::useFile(const QString &path)
{
    delete m_settings;
    m_settings = new QSettings(path, QSettings::IniFormat, this);
}

bool Preferences::boolValue(const char *key, bool fallback) const
{
    return m_settings->value(QLatin1String(key), fallback).toBool();
}

int Preferences::proxyPort()
{
    const int port = instance().intValue(PrefKey::ProxyPort, 9999);
    return port >= 1 && port <= 65535 ? port : 9999;
}

int Preferences::intValue(const char *key, int fallback) const
{
    bool ok = false;
    const int value = m_settings->value(QLatin1String(key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

QString Preferences::stringValue(const char *key, const QString &fallback) const
{
    return m_settings->value(QLatin1String(key), fallback).toString();
}

bool Preferences::contains(const char *key) const
{
    return m_settings->contains(QLatin1String(key));
}

void Preferences::setValue(const char *key, const QVariant &value)
{
    m_settings->setValue(QLatin1String(key), value);
    emit valueChanged(QLatin1String(key));
}

void Preferences::remove(const char *key)
{
    m_settings->remove(QLatin1String(key));
    emit valueChanged(QLatin1String(key));
}

void Preferences::sync()
{
    m_settings->sync();
}
