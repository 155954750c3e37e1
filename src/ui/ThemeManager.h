#pragma once

#include <QObject>
#include <QString>

// Holds the appearance mode (0 System, 1 Light, 2 Dark), stores it under MRThemeMode,
// applies it to the whole application and announces every change.
class ThemeManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeManager)

public:
    static ThemeManager& shared();

    int mode() const { return m_mode; }
    // Stores, persists, applies and notifies, even when the value is unchanged.
    void setMode(int mode);
    // System → Light → Dark → System.
    void cycle();
    // Sets the application palette for the effective appearance, then notifies.
    void apply();

    QString label() const;
    QString symbolName() const;

    // Whether the appearance in force after the last apply is dark.
    bool isDark() const { return m_dark; }

Q_SIGNALS:
    // Posted after every apply.
    void themeDidChange();

private:
    ThemeManager();
    bool effectiveDark() const;

    int m_mode = 0;
    bool m_dark = false;
};
