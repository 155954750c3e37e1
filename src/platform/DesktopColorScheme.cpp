#include "platform/DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const auto kService = QStringLiteral("org.freedesktop.portal.Desktop");
const auto kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const auto kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const auto kGroup = QStringLiteral("org.freedesktop.appearance");
const auto kKey = QStringLiteral("color-scheme");

// Long enough for a healthy portal, short enough not to hold up start-up without one.
constexpr int kReadTimeoutMs = 400;

} // namespace

DesktopColorScheme& DesktopColorScheme::shared()
{
    static DesktopColorScheme* instance = new DesktopColorScheme;
    return *instance;
}

DesktopColorScheme::DesktopColorScheme()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    call << kGroup << kKey;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kReadTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_preference = fromPortalValue(reply.arguments().constFirst());

    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
}

DesktopColorScheme::Preference DesktopColorScheme::fromPortalValue(const QVariant& value)
{
    QVariant v = value;
    // Read answers a variant inside a variant; unwrap however many layers arrive.
    while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = v.toUInt(&ok);
    if (!ok)
        return Preference::None;
    switch (scheme) {
    case 1:
        return Preference::Dark;
    case 2:
        return Preference::Light;
    default:
        return Preference::None;
    }
}

void DesktopColorScheme::portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group != kGroup || key != kKey)
        return;
    const Preference preference = fromPortalValue(value.variant());
    if (preference == m_preference)
        return;
    m_preference = preference;
    Q_EMIT preferenceChanged();
}
