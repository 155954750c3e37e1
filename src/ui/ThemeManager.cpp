#include "ui/ThemeManager.h"

#include "platform/DesktopColorScheme.h"
#include "ui/MRTheme.h"

#include <QGuiApplication>
#include <QSettings>

namespace {

const auto kModeKey = QStringLiteral("MRThemeMode");

} // namespace

ThemeManager& ThemeManager::shared()
{
    static ThemeManager* instance = new ThemeManager;
    return *instance;
}

ThemeManager::ThemeManager()
{
    m_mode = QSettings().value(kModeKey, 0).toInt();
    auto& desktop = DesktopColorScheme::shared();
    connect(&desktop, &DesktopColorScheme::preferenceChanged, this, [this] {
        if (m_mode != 1 && m_mode != 2)
            apply();
    });
}

void ThemeManager::setMode(int mode)
{
    m_mode = mode;
    QSettings().setValue(kModeKey, mode);
    apply();
}

void ThemeManager::cycle()
{
    setMode((m_mode + 1) % 3);
}

bool ThemeManager::effectiveDark() const
{
    switch (m_mode) {
    case 1:
        return false;
    case 2:
        return true;
    default:
        return DesktopColorScheme::shared().preference() == DesktopColorScheme::Preference::Dark;
    }
}

void ThemeManager::apply()
{
    m_dark = effectiveDark();
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setPalette(MRTheme::palette(m_dark));
    Q_EMIT themeDidChange();
}

QString ThemeManager::label() const
{
    switch (m_mode) {
    case 1:
        return QStringLiteral("Light");
    case 2:
        return QStringLiteral("Dark");
    default:
        return QStringLiteral("System");
    }
}

QString ThemeManager::symbolName() const
{
    switch (m_mode) {
    case 1:
        return QStringLiteral("sun.max");
    case 2:
        return QStringLiteral("moon.stars");
    default:
        return QStringLiteral("circle.lefthalf.filled");
    }
}
