#include "ui/MRTheme.h"

#include "ui/MRContrast.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>

QColor MRColor::resolve(const QPalette& palette) const
{
    return resolve(MRTheme::isDark(palette));
}

MRColor MRColor::withAlpha(qreal alpha) const
{
    QColor light = m_light;
    QColor dark = m_dark;
    light.setAlphaF(float(alpha));
    dark.setAlphaF(float(alpha));
    return {light, dark};
}

QColor MRTheme::hex(quint32 rgb, qreal alpha)
{
    QColor color = QColor::fromRgbF(float(((rgb >> 16) & 0xFF) / 255.0), float(((rgb >> 8) & 0xFF) / 255.0),
                                    float((rgb & 0xFF) / 255.0), float(alpha));
    return color;
}

bool MRTheme::isDark(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightnessF() < 0.5;
}

namespace {

MRColor pair(quint32 light, quint32 dark)
{
    return {MRTheme::hex(light), MRTheme::hex(dark)};
}

MRColor pair(quint32 light, qreal lightAlpha, quint32 dark, qreal darkAlpha)
{
    return {MRTheme::hex(light, lightAlpha), MRTheme::hex(dark, darkAlpha)};
}

// Converts design points to a Qt point size that renders at that many logical pixels.
qreal qtPointSize(qreal designPoints)
{
    qreal dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInch();
    return designPoints * 72.0 / dpi;
}

QFont sized(QFont font, qreal size, int weight)
{
    font.setPointSizeF(qtPointSize(size));
    font.setWeight(QFont::Weight(weight));
    return font;
}

} // namespace

// clang-format off: one palette entry a line reads as the table it is.
// Text colours reach 4.5:1 as body text, or 3:1 as captions, comments and icons, on every
// background they are drawn on (tst_contrast checks it). To get there textTertiary and
// sqlComment (both appearances) and danger, success and sqlString (light) were moved by the
// least change of lightness that does it; their hue and saturation are the design's.
MRColor MRTheme::windowBackground()
{
    return pair(0xFBFAF8, 0x1A1917);
}
MRColor MRTheme::sidebarBackground()
{
    return pair(0xF4F3EF, 0x211F1C);
}
MRColor MRTheme::elevatedBackground()
{
    return pair(0xFFFFFF, 0x272521);
}
MRColor MRTheme::inputBackground()
{
    return pair(0xFFFFFF, 0x2B2925);
}
MRColor MRTheme::hairline()
{
    return pair(0x000000, 0.10, 0xFFFFFF, 0.11);
}
MRColor MRTheme::rowHover()
{
    return pair(0x000000, 0.045, 0xFFFFFF, 0.055);
}
MRColor MRTheme::rowSelected()
{
    return pair(0x000000, 0.075, 0xFFFFFF, 0.09);
}
MRColor MRTheme::textPrimary()
{
    return pair(0x20201D, 0xF4F2EC);
}
MRColor MRTheme::textSecondary()
{
    return pair(0x6B6862, 0xA8A39A);
}
MRColor MRTheme::textTertiary()
{
    return pair(0x89847A, 0x827D74);
}
MRColor MRTheme::accent()
{
    return pair(0xCB6A4B, 0xD97757);
}
MRColor MRTheme::accentPressed()
{
    return pair(0xB45836, 0xC2674A);
}
MRColor MRTheme::accentSoft()
{
    return pair(0xE3A488, 0xC0744F);
}
MRColor MRTheme::onAccent()
{
    return pair(0xFFFFFF, 0xFFFFFF);
}
MRColor MRTheme::statusDot()
{
    return pair(0x3B7DF0, 0x5C97F6);
}
MRColor MRTheme::danger()
{
    return pair(0xBE403A, 0xF08C8C);
}
MRColor MRTheme::success()
{
    return pair(0x357950, 0x6FCF9A);
}
MRColor MRTheme::sqlKeyword()
{
    return pair(0x0A66C2, 0x6CB6FF);
}
MRColor MRTheme::sqlString()
{
    return pair(0x1A7D36, 0x8DDB9B);
}
MRColor MRTheme::sqlNumber()
{
    return pair(0x9A5B00, 0xE8B17A);
}
MRColor MRTheme::sqlComment()
{
    return pair(0x8E897F, 0x767269);
}
MRColor MRTheme::sqlFunction()
{
    return pair(0x7A3EC8, 0xC8A6FF);
}
// clang-format on

QFont MRTheme::serifDisplayFont(qreal size, int weight)
{
    QFont font;
    // "serif" is the desktop's own serif face through fontconfig; the named faces follow
    // for systems where that alias is not configured.
    font.setFamilies({QStringLiteral("serif"), QStringLiteral("DejaVu Serif"), QStringLiteral("Noto Serif")});
    font.setStyleHint(QFont::Serif);
    return sized(font, size, weight);
}

QFont MRTheme::uiFont(qreal size, int weight)
{
    return sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont), size, weight);
}

QString MRTheme::fixedPitchFamily(const QFont& desktopFixed)
{
    // Without a desktop configuration (the offscreen platform, a bare window manager) the
    // fixed font may be a family name that resolves to a proportional face.
    const QFontInfo resolved(desktopFixed);
    if (resolved.fixedPitch())
        return resolved.family();
    for (const char* name : {"DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono"}) {
        const QString family = QString::fromLatin1(name);
        if (QFontDatabase::hasFamily(family) && QFontDatabase::isFixedPitch(family))
            return family;
    }
    const QStringList families = QFontDatabase::families();
    for (const QString& family : families) {
        if (QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family))
            return family;
    }
    return {};
}

QFont MRTheme::monoFont(qreal size, int weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Chosen once: the installed fonts do not change while the application runs.
    static const QString family = fixedPitchFamily(font);
    if (!family.isEmpty())
        font.setFamilies({family});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return sized(font, size, weight);
}

QPalette MRTheme::palette(bool dark)
{
    const auto c = [dark](const MRColor& color) { return color.resolve(dark); };
    QPalette p;
    const QColor window = c(windowBackground());
    const QColor text = c(textPrimary());
    const QColor elevated = c(elevatedBackground());
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, c(inputBackground()));
    p.setColor(QPalette::AlternateBase, dark ? window.lighter(115) : window.darker(102));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::BrightText, c(onAccent()));
    p.setColor(QPalette::Button, elevated);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, elevated);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, c(textTertiary()));
    // Selected text and rows: the accent, deepened just enough for on-accent text to read.
    p.setColor(QPalette::Highlight, MRContrast::deepenedFor(c(accent()), c(onAccent()), MRContrast::kBody));
    p.setColor(QPalette::HighlightedText, c(onAccent()));
    p.setColor(QPalette::Link, c(accent()));
    p.setColor(QPalette::LinkVisited, c(accentPressed()));
    p.setColor(QPalette::Light, dark ? elevated.lighter(130) : QColor(Qt::white));
    p.setColor(QPalette::Midlight, dark ? elevated.lighter(115) : window.darker(104));
    p.setColor(QPalette::Mid, dark ? elevated.lighter(150) : window.darker(125));
    p.setColor(QPalette::Dark, dark ? window.darker(130) : window.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, c(textTertiary()));
    return p;
}
