#include "ui/MRImageView.h"
#include "ui/MRStyleKit.h"

#include <QTest>
#include <QtMath>

namespace {

// Sum of the alpha of every pixel: how much ink an image carries.
qint64 ink(const QImage& image)
{
    qint64 total = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            total += qAlpha(image.pixel(x, y));
    return total;
}

QImage render(const MRIcon& icon, qreal ratio = 1.0, const QColor& color = Qt::black)
{
    return icon.pixmap(color, ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyNamedSymbolDraws_data()
    {
        QTest::addColumn<QString>("name");
        // Every symbol the interface asks for.
        const QString names = QStringLiteral(
            "arrow.up stop.fill plus minus ellipsis chevron.down chevron.right chevron.up.chevron.down sun.max "
            "moon.stars circle.lefthalf.filled slider.horizontal.3 shuffle cylinder.split.1x2 person.2 clock chart.bar "
            "magnifyingglass exclamationmark.triangle.fill arrow.triangle.2.circlepath checkmark checkmark.shield "
            "tablecells "
            "sidebar.left");
        for (const QString& name : names.split(u' '))
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyNamedSymbolDraws()
    {
        QFETCH(QString, name);
        const MRIcon icon = MRStyleKit::symbol(name, 14, QFont::Normal);
        const QColor tint(0x3B7DF0);
        const QImage single = render(icon, 1.0, tint);
        QVERIFY2(ink(single) > 0, "the symbol paints nothing");
        // Drawn as paths, so twice the pixel density carries four times the ink, not a blur.
        const QImage doubled = render(icon, 2.0, tint);
        QVERIFY(qAbs(ink(doubled) / 4.0 - ink(single)) < ink(single) * 0.15);
        // A template image: every pixel drawn is the one colour asked for.
        for (int y = 0; y < single.height(); ++y)
            for (int x = 0; x < single.width(); ++x)
                if (qAlpha(single.pixel(x, y)) == 255)
                    QCOMPARE(QColor(single.pixel(x, y)), tint);
    }

    void weightRule()
    {
        // Semibold from QFont::DemiBold up, regular below; semibold strokes carry clearly more ink.
        const auto inkAt = [](int weight) {
            return ink(render(MRStyleKit::symbol(QStringLiteral("plus"), 30, weight)));
        };
        QVERIFY(inkAt(QFont::DemiBold) > inkAt(QFont::Normal) * 1.15);
        QCOMPARE(inkAt(QFont::Medium), inkAt(QFont::Normal));
        QCOMPARE(inkAt(QFont::Bold), inkAt(QFont::DemiBold));
    }

    void unknownNameGivesNothing()
    {
        const MRIcon icon = MRStyleKit::symbol(QStringLiteral("no.such.symbol"), 14, QFont::Normal);
        QVERIFY(icon.isNull());
        // A view showing it takes no room and paints nothing.
        MRImageView view;
        view.setImage(icon);
        QCOMPARE(view.sizeHint(), QSize(0, 0));
        QImage image(20, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image, {}, {}, QWidget::RenderFlags());
        QCOMPARE(ink(image), 0);
    }

    void sparkleRays()
    {
        constexpr int size = 200;
        const QImage image = render(MRStyleKit::sparkleImageOfSize(size));
        const auto alphaAt = [&](qreal degrees, qreal radius) {
            const qreal a = qDegreesToRadians(degrees);
            return qAlpha(image.pixel(qFloor(size / 2.0 + radius * size * qCos(a)),
                                      qFloor(size / 2.0 + radius * size * qSin(a))));
        };
        for (int k = 0; k < 12; ++k) {
            const qreal ray = k * 30.0;
            QVERIFY2(alphaAt(ray, 0.10) == 255 && alphaAt(ray, 0.44) == 255, qPrintable(QString::number(k)));
            // Rays are 0.1 of the size thick and end 0.47 out: between rays and past the tip is empty.
            QCOMPARE(alphaAt(ray + 15, 0.30), 0);
            QCOMPARE(alphaAt(ray, 0.49), 0);
        }
        // The centre is open: rays begin 0.05 of the size out.
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 0);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
