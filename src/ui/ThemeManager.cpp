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
    m_mode = Mode(QSettings().value(kModeKey, 0).toInt());
    auto& desktop = DesktopColorScheme::shared();
    connect(&desktop, &DesktopColorScheme::preferenceChanged, this, [this] {
        if (m_mode != Mode::Light && m_mode != Mode::Dark)
            apply();
    });
}

void ThemeManager::setMode(Mode mode)
{
    m_mode = mode;
    QSettings().setValue(kModeKey, int(mode));
    apply();
}

void ThemeManager::cycle()
{
    // The remainder keeps the sign of a negative stored number, which then reads as System.
    setMode(Mode((int(m_mode) + 1) % 3));
}

bool ThemeManager::effectiveDark() const
{
    switch (m_mode) {
    case Mode::Light:
        return false;
    case Mode::Dark:
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
    case Mode::Light:
        return tr("Light");
    case Mode::Dark:
        return tr("Dark");
    default:
        return tr("System");
    }
}

QString ThemeManager::symbolName() const
{
    switch (m_mode) {
    case Mode::Light:
        return QStringLiteral("sun.max");
    case Mode::Dark:
        return QStringLiteral("moon.stars");
    default:
        return QStringLiteral("circle.lefthalf.filled");
    }
}
