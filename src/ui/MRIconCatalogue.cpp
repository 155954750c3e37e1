#include "ui/MRIconCatalogue.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QtMath>
#include <functional>
#include <initializer_list>
#include <map>

namespace {

// Symbols are designed on a 24-unit square. Strokes are turned into outlines and joined
// into one shape, so a translucent tint covers overlapping strokes only once; the shape is
// built ten times larger so that curves stay smooth when it is drawn big.
constexpr qreal kGrid = 24.0;
constexpr qreal kBuildScale = 10.0;
constexpr qreal kRegularStroke = 1.75;
constexpr qreal kSemiboldStroke = 2.3;

class Shape
{
public:
    explicit Shape(qreal strokeWidth) : m_strokeWidth(strokeWidth) {}

    qreal strokeWidth() const { return m_strokeWidth; }

    void stroke(const QPainterPath& path)
    {
        QPainterPathStroker stroker;
        stroker.setWidth(m_strokeWidth * kBuildScale);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        add(stroker.createStroke(scaled(path)));
    }

    void line(qreal x1, qreal y1, qreal x2, qreal y2) { polyline({{x1, y1}, {x2, y2}}); }

    void polyline(std::initializer_list<QPointF> points)
    {
        QPainterPath path;
        for (const QPointF& point : points) {
            if (path.elementCount() == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        stroke(path);
    }

    void circle(qreal cx, qreal cy, qreal r)
    {
        QPainterPath path;
        path.addEllipse(QPointF(cx, cy), r, r);
        stroke(path);
    }

    void fill(const QPainterPath& path) { add(scaled(path)); }

    void fillCircle(qreal cx, qreal cy, qreal r)
    {
        QPainterPath path;
        path.addEllipse(QPointF(cx, cy), r, r);
        fill(path);
    }

    QPainterPath result() const { return m_path; }

private:
    static QPainterPath scaled(const QPainterPath& path)
    {
        return QTransform::fromScale(kBuildScale, kBuildScale).map(path);
    }

    void add(const QPainterPath& piece) { m_path = m_path.united(piece); }

    qreal m_strokeWidth;
    QPainterPath m_path;
};

QPainterPath rect(qreal x, qreal y, qreal w, qreal h, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), radius, radius);
    return path;
}

// A filled arrowhead at the end of an arc, pointing along the clockwise tangent.
QPainterPath arcArrowHead(qreal cx, qreal cy, qreal r, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    const QPointF at(cx + r * qCos(a), cy - r * qSin(a));
    const QPointF along(qSin(a), qCos(a));
    const QPointF across(along.y(), -along.x());
    QPainterPath path;
    path.moveTo(at + along * 3.2);
    path.lineTo(at - along * 1.0 + across * 3.4);
    path.lineTo(at - along * 1.0 - across * 3.4);
    path.closeSubpath();
    return path;
}

// A small four-pointed star.
QPainterPath star(qreal cx, qreal cy, qreal r)
{
    const qreal waist = r * 0.28;
    QPainterPath path;
    path.moveTo(cx, cy - r);
    path.quadTo(cx + waist, cy - waist, cx + r, cy);
    path.quadTo(cx + waist, cy + waist, cx, cy + r);
    path.quadTo(cx - waist, cy + waist, cx - r, cy);
    path.quadTo(cx - waist, cy - waist, cx, cy - r);
    return path;
}

using Drawing = std::function<void(Shape&)>;

const std::map<QString, Drawing>& drawings()
{
    static const std::map<QString, Drawing> table = [] {
        std::map<QString, Drawing> t;
        const auto add = [&t](const char* name, Drawing drawing) { t.emplace(QLatin1String(name), drawing); };

        add("arrow.up", [](Shape& s) {
            s.line(12, 19.5, 12, 4.8);
            s.polyline({{5.5, 11.3}, {12, 4.8}, {18.5, 11.3}});
        });
        add("stop.fill", [](Shape& s) { s.fill(rect(5.5, 5.5, 13, 13, 2.6)); });
        add("plus", [](Shape& s) {
            s.line(12, 4.5, 12, 19.5);
            s.line(4.5, 12, 19.5, 12);
        });
        add("minus", [](Shape& s) { s.line(4.5, 12, 19.5, 12); });
        add("ellipsis", [](Shape& s) {
            const qreal r = s.strokeWidth() * 0.85;
            for (qreal x : {5.0, 12.0, 19.0})
                s.fillCircle(x, 12, r);
        });
        add("chevron.down", [](Shape& s) { s.polyline({{5.5, 8.75}, {12, 15.25}, {18.5, 8.75}}); });
        add("chevron.right", [](Shape& s) { s.polyline({{8.75, 5.5}, {15.25, 12}, {8.75, 18.5}}); });
        add("chevron.up.chevron.down", [](Shape& s) {
            s.polyline({{7.5, 9.5}, {12, 5}, {16.5, 9.5}});
            s.polyline({{7.5, 14.5}, {12, 19}, {16.5, 14.5}});
        });
        add("sun.max", [](Shape& s) {
            s.circle(12, 12, 4.2);
            for (int k = 0; k < 8; ++k) {
                const qreal a = k * M_PI / 4;
                s.line(12 + 7.2 * qCos(a), 12 + 7.2 * qSin(a), 12 + 9.8 * qCos(a), 12 + 9.8 * qSin(a));
            }
        });
        add("moon.stars", [](Shape& s) {
            QPainterPath moon;
            moon.addEllipse(QPointF(10.5, 13), 7.8, 7.8);
            QPainterPath bite;
            bite.addEllipse(QPointF(15.6, 8.6), 6.4, 6.4);
            s.stroke(moon.subtracted(bite));
            s.fill(star(18.6, 4.4, 2.4));
            s.fill(star(21.2, 9.8, 1.7));
        });
        add("circle.lefthalf.filled", [](Shape& s) {
            s.circle(12, 12, 8.6);
            QPainterPath half;
            half.moveTo(12, 3.4);
            half.arcTo(QRectF(3.4, 3.4, 17.2, 17.2), 90, 180);
            half.closeSubpath();
            s.fill(half);
        });
        add("slider.horizontal.3", [](Shape& s) {
            const qreal knob = 2.3;
            for (auto [y, x] : {std::pair{6.0, 15.0}, {12.0, 8.0}, {18.0, 13.5}}) {
                s.circle(x, y, knob);
                s.line(3.5, y, x - knob - 0.2, y);
                s.line(x + knob + 0.2, y, 20.5, y);
            }
        });
        add("shuffle", [](Shape& s) {
            QPainterPath down;
            down.moveTo(3.5, 7.5);
            down.lineTo(7, 7.5);
            down.cubicTo(11.2, 7.5, 11.8, 16.5, 16, 16.5);
            down.lineTo(19.5, 16.5);
            s.stroke(down);
            s.polyline({{16.8, 13.8}, {19.5, 16.5}, {16.8, 19.2}});
            QPainterPath up;
            up.moveTo(3.5, 16.5);
            up.lineTo(7, 16.5);
            up.cubicTo(11.2, 16.5, 11.8, 7.5, 16, 7.5);
            up.lineTo(19.5, 7.5);
            s.stroke(up);
            s.polyline({{16.8, 4.8}, {19.5, 7.5}, {16.8, 10.2}});
        });
        add("cylinder.split.1x2", [](Shape& s) {
            QPainterPath top;
            top.addEllipse(QRectF(5, 3.4, 14, 5.2));
            s.stroke(top);
            QPainterPath body;
            body.moveTo(5, 6);
            body.lineTo(5, 18);
            body.arcTo(QRectF(5, 15.4, 14, 5.2), 180, 180);
            body.lineTo(19, 6);
            s.stroke(body);
            QPainterPath split;
            split.arcMoveTo(QRectF(5, 9.4, 14, 5.2), 180);
            split.arcTo(QRectF(5, 9.4, 14, 5.2), 180, 180);
            s.stroke(split);
        });
        add("person.2", [](Shape& s) {
            s.circle(9, 8.4, 3.3);
            QPainterPath front;
            front.moveTo(2.6, 19.6);
            front.cubicTo(2.6, 15.4, 5.4, 13.6, 9, 13.6);
            front.cubicTo(12.6, 13.6, 15.4, 15.4, 15.4, 19.6);
            front.closeSubpath();
            s.stroke(front);
            s.circle(16.6, 7.4, 2.7);
            QPainterPath back;
            back.moveTo(15.4, 12.5);
            back.cubicTo(15.9, 12.4, 16.3, 12.4, 16.8, 12.4);
            back.cubicTo(19.7, 12.4, 21.5, 14.2, 21.5, 17.6);
            back.lineTo(17.9, 17.6);
            s.stroke(back);
        });
        add("clock", [](Shape& s) {
            s.circle(12, 12, 8.8);
            s.polyline({{12, 6.6}, {12, 12}, {15.6, 14.3}});
        });
        add("chart.bar", [](Shape& s) {
            s.stroke(rect(4, 13.5, 4, 6.5, 1));
            s.stroke(rect(10, 8.5, 4, 11.5, 1));
            s.stroke(rect(16, 4, 4, 16, 1));
        });
        add("magnifyingglass", [](Shape& s) {
            s.circle(10.3, 10.3, 6.4);
            s.line(15, 15, 20, 20);
        });
        add("exclamationmark.triangle.fill", [](Shape& s) {
            QPainterPath triangle;
            triangle.moveTo(12, 4);
            triangle.lineTo(20.8, 19.4);
            triangle.lineTo(3.2, 19.4);
            triangle.closeSubpath();
            QPainterPathStroker rounding;
            rounding.setWidth(2.6);
            rounding.setJoinStyle(Qt::RoundJoin);
            QPainterPath body = triangle.united(rounding.createStroke(triangle));
            const qreal bar = s.strokeWidth() * 1.05;
            QPainterPath mark = rect(12 - bar / 2, 8.6, bar, 6.6, bar / 2);
            mark.addEllipse(QPointF(12, 17.2), bar * 0.62, bar * 0.62);
            s.fill(body.subtracted(mark));
        });
        add("arrow.triangle.2.circlepath", [](Shape& s) {
            const QRectF ring(5, 5, 14, 14);
            QPainterPath upper;
            upper.arcMoveTo(ring, 160);
            upper.arcTo(ring, 160, -128);
            s.stroke(upper);
            s.fill(arcArrowHead(12, 12, 7, 24));
            QPainterPath lower;
            lower.arcMoveTo(ring, 340);
            lower.arcTo(ring, 340, -128);
            s.stroke(lower);
            s.fill(arcArrowHead(12, 12, 7, 204));
        });
        add("checkmark", [](Shape& s) { s.polyline({{5, 12.5}, {9.5, 17}, {19, 7}}); });
        add("checkmark.shield", [](Shape& s) {
            QPainterPath shield;
            shield.moveTo(12, 3);
            shield.cubicTo(14.5, 4.6, 17, 5.3, 19.5, 5.5);
            shield.lineTo(19.5, 11.5);
            shield.cubicTo(19.5, 16, 16.5, 19.2, 12, 21);
            shield.cubicTo(7.5, 19.2, 4.5, 16, 4.5, 11.5);
            shield.lineTo(4.5, 5.5);
            shield.cubicTo(7, 5.3, 9.5, 4.6, 12, 3);
            shield.closeSubpath();
            s.stroke(shield);
            s.polyline({{8.6, 12.2}, {11, 14.6}, {15.6, 9.4}});
        });
        add("tablecells", [](Shape& s) {
            s.stroke(rect(3, 5, 18, 14, 2.5));
            s.line(3, 12, 21, 12);
            s.line(9, 5, 9, 19);
            s.line(15, 5, 15, 19);
        });
        const Drawing sidebar = [](Shape& s) {
            s.stroke(rect(2.5, 4.5, 19, 15, 3));
            s.line(9, 4.5, 9, 19.5);
            for (qreal y : {8.5, 11.0, 13.5})
                s.line(4.9, y, 6.6, y);
        };
        add("sidebar.left", sidebar);
        add("sidebar.leading", sidebar);
        return t;
    }();
    return table;
}

// Shapes are built once per name and weight, then only transformed when drawn.
const QPainterPath* shapeFor(const QString& name, bool semibold)
{
    const auto& table = drawings();
    const auto drawing = table.find(name);
    if (drawing == table.end())
        return nullptr;
    static QHash<QString, QPainterPath> cache[2];
    QHash<QString, QPainterPath>& shapes = cache[semibold ? 1 : 0];
    auto cached = shapes.constFind(name);
    if (cached == shapes.constEnd()) {
        Shape shape(semibold ? kSemiboldStroke : kRegularStroke);
        drawing->second(shape);
        cached = shapes.insert(name, shape.result());
    }
    return &cached.value();
}

// Fills a shape built on the enlarged grid into the square centred in rect.
void fillInto(QPainter& painter, const QPainterPath& shape, const QRectF& rect, const QColor& color)
{
    const qreal side = qMin(rect.width(), rect.height());
    const qreal scale = side / (kGrid * kBuildScale);
    QTransform transform;
    transform.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    transform.scale(scale, scale);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(transform.map(shape), color);
    painter.restore();
}

} // namespace

bool MRIconCatalogue::contains(const QString& name)
{
    return drawings().count(name) > 0;
}

QStringList MRIconCatalogue::names()
{
    QStringList result;
    for (const auto& entry : drawings())
        result.append(entry.first);
    return result;
}

bool MRIconCatalogue::draw(const QString& name, QPainter& painter, const QRectF& rect, const QColor& color,
                           bool semibold)
{
    const QPainterPath* shape = shapeFor(name, semibold);
    if (!shape)
        return false;
    fillInto(painter, *shape, rect, color);
    return true;
}

void MRIconCatalogue::drawSparkle(QPainter& painter, const QRectF& rect, const QColor& color)
{
    // Built once at the size symbols are built at, then scaled: the rays overlap near the
    // centre, and joining them keeps a translucent tint even.
    static const QPainterPath mark = [] {
        const qreal size = kGrid * kBuildScale;
        const qreal c = 0.5 * size;
        const qreal w = 0.05 * size;
        const qreal length = 0.47 * size - w;
        QPainterPath rays;
        for (int k = 0; k < 12; ++k) {
            QTransform ray;
            ray.translate(c, c);
            ray.rotateRadians(k * M_PI / 6);
            QPainterPath rounded;
            rounded.addRoundedRect(QRectF(w, -w, length, 2 * w), w, w);
            rays = rays.united(ray.map(rounded));
        }
        return rays;
    }();
    fillInto(painter, mark, rect, color);
}
