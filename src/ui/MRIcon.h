#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSizeF>
#include <QString>

class QPainter;
class QRectF;

// One symbol image at one point size and weight, or none. It is drawn in whatever colour
// the view showing it supplies, as a template image takes its view's tint.
class MRIcon
{
public:
    // No image: paints nothing and has no size.
    MRIcon() = default;

    // The named symbol from the catalogue, or no image for a name it does not know.
    static MRIcon symbol(const QString& name, qreal pointSize, bool semibold);
    // The house sparkle mark, size × size.
    static MRIcon sparkle(qreal size);

    bool isNull() const { return m_kind == Kind::None; }
    QString name() const { return m_name; }
    qreal pointSize() const { return m_pointSize; }
    bool isSemibold() const { return m_semibold; }
    // The square a view reserves for the image, in logical pixels.
    QSizeF size() const;

    // Paints the image centred in rect.
    void paint(QPainter& painter, const QRectF& rect, const QColor& color) const;
    QPixmap pixmap(const QColor& color, qreal devicePixelRatio = 1.0) const;
    // Pixmaps for the usual pixel densities, for widgets that take a QIcon.
    QIcon icon(const QColor& color) const;

    bool operator==(const MRIcon&) const = default;

private:
    enum class Kind { None, Symbol, Sparkle };

    Kind m_kind = Kind::None;
    QString m_name;
    qreal m_pointSize = 0;
    bool m_semibold = false;
};
