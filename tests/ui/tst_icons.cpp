#include "ui/MRIconCatalogue.h"
#include "ui/MRImageView.h"
#include "ui/MRStyleKit.h"

#include <QPainter>
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

QImage render(const MRIcon& icon, qreal ratio = 1.0)
{
    return icon.pixmap(Qt::black, ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyNamedSymbolDraws_data();
    void everyNamedSymbolDraws();
    void weightRule_data();
    void weightRule();
    void unknownNameGivesNothing();
    void sparkleRays();
};

void TestIcons::everyNamedSymbolDraws_data()
{
    QTest::addColumn<QString>("name");
    const char* names[] = {"arrow.up",
                           "stop.fill",
                           "plus",
                           "minus",
                           "ellipsis",
                           "chevron.down",
                           "chevron.right",
                           "chevron.up.chevron.down",
                           "sun.max",
                           "moon.stars",
                           "circle.lefthalf.filled",
                           "slider.horizontal.3",
                           "shuffle",
                           "cylinder.split.1x2",
                           "person.2",
                           "clock",
                           "chart.bar",
                           "magnifyingglass",
                           "exclamationmark.triangle.fill",
                           "arrow.triangle.2.circlepath",
                           "checkmark.shield",
                           "tablecells",
                           "sidebar.left"};
    for (const char* name : names)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestIcons::everyNamedSymbolDraws()
{
    QFETCH(QString, name);
    const MRIcon icon = MRStyleKit::symbol(name, 14, QFont::Normal);
    QVERIFY(!icon.isNull());
    const QImage single = render(icon);
    QVERIFY2(ink(single) > 0, "the symbol paints nothing");
    // Drawn as paths, so twice the pixel density carries four times the ink, not a blur.
    const QImage doubled = render(icon, 2.0);
    QCOMPARE(doubled.size(), single.size() * 2);
    QVERIFY(qAbs(ink(doubled) / 4.0 - ink(single)) < ink(single) * 0.15);
    // A template image: every pixel drawn is the one colour asked for.
    const QImage tinted = icon.pixmap(QColor(0x3B7DF0)).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < tinted.height(); ++y)
        for (int x = 0; x < tinted.width(); ++x) {
            const QRgb p = tinted.pixel(x, y);
            if (qAlpha(p) == 255)
                QCOMPARE(QColor(p), QColor(0x3B7DF0));
        }
}

void TestIcons::weightRule_data()
{
    QTest::addColumn<int>("weight");
    QTest::addColumn<bool>("semibold");
    QTest::newRow("light") << int(QFont::Light) << false;
    QTest::newRow("regular") << int(QFont::Normal) << false;
    QTest::newRow("medium") << int(QFont::Medium) << false;
    QTest::newRow("semibold") << int(QFont::DemiBold) << true;
    QTest::newRow("bold") << int(QFont::Bold) << true;
    QTest::newRow("black") << int(QFont::Black) << true;
}

void TestIcons::weightRule()
{
    QFETCH(int, weight);
    QFETCH(bool, semibold);
    const qint64 regularInk = ink(render(MRIcon::symbol(QStringLiteral("plus"), 30, false)));
    const qint64 semiboldInk = ink(render(MRIcon::symbol(QStringLiteral("plus"), 30, true)));
    QVERIFY(semiboldInk > regularInk * 1.15);

    const MRIcon icon = MRStyleKit::symbol(QStringLiteral("plus"), 30, weight);
    QCOMPARE(icon.isSemibold(), semibold);
    QCOMPARE(ink(render(icon)), semibold ? semiboldInk : regularInk);
}

void TestIcons::unknownNameGivesNothing()
{
    const MRIcon icon = MRStyleKit::symbol(QStringLiteral("no.such.symbol"), 14, QFont::Normal);
    QVERIFY(icon.isNull());
    QVERIFY(icon.pixmap(Qt::black).isNull());
    QVERIFY(icon.icon(Qt::black).isNull());
    QCOMPARE(icon.size(), QSizeF());

    MRImageView view;
    view.setImage(icon);
    view.resize(20, 20);
    QCOMPARE(view.sizeHint(), QSize(0, 0));
    QImage image(20, 20, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.render(&image, {}, {}, QWidget::RenderFlags());
    QCOMPARE(ink(image), 0);
}

void TestIcons::sparkleRays()
{
    constexpr int size = 200;
    const MRIcon sparkle = MRStyleKit::sparkleImageOfSize(size);
    QCOMPARE(sparkle.size(), QSizeF(size, size));
    const QImage image = render(sparkle);
    const auto alphaAt = [&](qreal degrees, qreal radius) {
        const qreal a = qDegreesToRadians(degrees);
        return qAlpha(
            image.pixel(qFloor(size / 2.0 + radius * size * qCos(a)), qFloor(size / 2.0 + radius * size * qSin(a))));
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

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
