#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// One palette colour as a light/dark pair, resolved against the appearance it is used in.
class MRColor
{
public:
    MRColor() = default;
    MRColor(const QColor& light, const QColor& dark) : m_light(light), m_dark(dark) {}

    QColor light() const { return m_light; }
    QColor dark() const { return m_dark; }

    QColor resolve(bool dark) const { return dark ? m_dark : m_light; }
    // Resolves against the appearance a palette stands for (see MRTheme::isDark).
    QColor resolve(const QPalette& palette) const;

    // The same pair with both alphas replaced.
    MRColor withAlpha(qreal alpha) const;

    bool operator==(const MRColor&) const = default;

private:
    QColor m_light;
    QColor m_dark;
};

// The palette: 22 colours, three font factories and three corner radii. Every widget
// names its colours, fonts and radii through these accessors and nothing else.
class MRTheme final
{
public:
    MRTheme() = delete;

    static QColor hex(quint32 rgb, qreal alpha = 1.0);

    // Dark when the palette's window colour is dark: a palette is how Qt carries a
    // widget's effective appearance, and anything neither light nor dark reads as light.
    static bool isDark(const QPalette& palette);

    static MRColor windowBackground();
    static MRColor sidebarBackground();
    static MRColor elevatedBackground();
    static MRColor inputBackground();
    static MRColor hairline();
    static MRColor rowHover();
    static MRColor rowSelected();
    static MRColor textPrimary();
    static MRColor textSecondary();
    static MRColor textTertiary();
    static MRColor accent();
    static MRColor accentPressed();
    static MRColor accentSoft();
    static MRColor onAccent();
    static MRColor statusDot();
    static MRColor danger();
    static MRColor success();
    static MRColor sqlKeyword();
    static MRColor sqlString();
    static MRColor sqlNumber();
    static MRColor sqlComment();
    static MRColor sqlFunction();

    // Sizes are design points: one point is one device-independent pixel, as on the
    // desktop the design was drawn for. Weights are QFont::Weight values.
    static QFont serifDisplayFont(qreal size, int weight = QFont::Normal);
    static QFont uiFont(qreal size, int weight = QFont::Normal);
    // The desktop's fixed font, in a family that really is fixed-width wherever one is
    // installed.
    static QFont monoFont(qreal size, int weight = QFont::Normal);
    // The family monoFont uses when the desktop's fixed font is desktopFixed: its own when
    // it resolves to a fixed-width face, else a common monospaced family that is installed,
    // else any installed family the font database reports as fixed pitch; empty when there
    // is none, and the monospace style hint is all that is left.
    static QString fixedPitchFamily(const QFont& desktopFixed);

    static constexpr qreal cardRadius() { return 14; }
    static constexpr qreal inputRadius() { return 18; }
    static constexpr qreal rowRadius() { return 8; }

    // The application palette for one appearance, so standard widgets follow the theme.
    static QPalette palette(bool dark);
};
