#pragma once

#include <QObject>

class QDBusVariant;
class QVariant;

// The desktop's light/dark preference, as the freedesktop settings portal publishes it
// (org.freedesktop.appearance color-scheme). Without a portal there is no preference.
class DesktopColorScheme final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopColorScheme)

public:
    enum class Preference { None, Dark, Light };

    static DesktopColorScheme& shared();

    Preference preference() const { return m_preference; }

    // The portal's color-scheme value (0 none, 1 dark, 2 light), however deeply wrapped.
    static Preference fromPortalValue(const QVariant& value);

Q_SIGNALS:
    void preferenceChanged();

private Q_SLOTS:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    DesktopColorScheme();

    Preference m_preference = Preference::None;
};
