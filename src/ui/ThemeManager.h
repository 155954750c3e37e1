#pragma once

#include <QObject>
#include <QString>

// Holds the appearance mode, stores it under MRThemeMode,
// applies it to the whole application and announces every change.
class ThemeManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeManager)

public:
    // The numbers are what MRThemeMode stores and the appearance menu's tags. A stored
    // number outside them is kept as it is and behaves as System.
    enum class Mode : int { System = 0, Light = 1, Dark = 2 };

    static ThemeManager& shared();

    Mode mode() const { return m_mode; }
    // Stores, persists, applies and notifies, even when the value is unchanged.
    void setMode(Mode mode);
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

    Mode m_mode = Mode::System;
    bool m_dark = false;
};
