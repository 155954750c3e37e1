#include "platform/DesktopColorScheme.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

// Stands in for the desktop's settings portal on a private session bus.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    std::atomic<uint> scheme{1};

public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group == u"org.freedesktop.appearance"_s && key == u"color-scheme"_s)
            return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme.load())));
        return QDBusVariant(QVariant(QString()));
    }
};

class TestTheme : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void palette();
    void fonts();
    void fixedPitchWhateverTheDesktopSays_data();
    void fixedPitchWhateverTheDesktopSays();
    void modes();
    void systemFollowsDesktop();

private:
    void announceScheme(uint scheme);

    QProcess m_bus;
    QThread m_portalThread;
    FakePortal* m_portal = nullptr;
    QString m_busAddress;
};

void TestTheme::initTestCase()
{
    // A private session bus with a settings portal that prefers dark; it must exist before
    // the theme manager first asks the desktop.
    m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is needed for this test");
    QVERIFY(m_bus.waitForReadyRead(5000));
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());

    m_portalThread.start();
    m_portal = new FakePortal;
    m_portal->moveToThread(&m_portalThread);
    QDBusConnection portalBus = QDBusConnection::connectToBus(m_busAddress, u"portal"_s);
    QVERIFY(portalBus.isConnected());
    QVERIFY(portalBus.registerObject(u"/org/freedesktop/portal/desktop"_s, m_portal, QDBusConnection::ExportAllSlots));
    QVERIFY(portalBus.registerService(u"org.freedesktop.portal.Desktop"_s));
}

void TestTheme::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(u"portal"_s);
    m_portalThread.quit();
    m_portalThread.wait();
    delete m_portal;
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestTheme::announceScheme(uint scheme)
{
    m_portal->scheme = scheme;
    QDBusMessage signal = QDBusMessage::createSignal(u"/org/freedesktop/portal/desktop"_s,
                                                     u"org.freedesktop.portal.Settings"_s, u"SettingChanged"_s);
    signal << u"org.freedesktop.appearance"_s << u"color-scheme"_s << QVariant::fromValue(QDBusVariant(scheme));
    QVERIFY(QDBusConnection(u"portal"_s).send(signal));
}

void TestTheme::palette()
{
    const QColor c = MRTheme::hex(0xCB6A4B);
    QCOMPARE(c.red(), 203);
    QCOMPARE(c.green(), 106);
    QCOMPARE(c.blue(), 75);
    QCOMPARE(c.alphaF(), 1.0f);
    QCOMPARE(MRTheme::hex(0xFFCB6A4B), c);

    QCOMPARE(MRTheme::hairline().resolve(true), MRTheme::hex(0xFFFFFF, 0.11));
    QCOMPARE(MRTheme::hairline().resolve(false), MRTheme::hex(0x000000, 0.10));
    QCOMPARE(MRTheme::onAccent().resolve(true), QColor(Qt::white));
    QCOMPARE(MRTheme::onAccent().resolve(false), QColor(Qt::white));
    QCOMPARE(MRTheme::accent().withAlpha(0.14).resolve(true), MRTheme::hex(0xD97757, 0.14));

    // The application palette carries the appearance; one that is neither ours nor dark
    // reads as light.
    QCOMPARE(MRTheme::textPrimary().resolve(MRTheme::palette(true)), MRTheme::hex(0xF4F2EC));
    QPalette grey;
    grey.setColor(QPalette::Window, QColor(200, 200, 200));
    QCOMPARE(MRTheme::sqlKeyword().resolve(grey), MRTheme::hex(0x0A66C2));
}

void TestTheme::fonts()
{
    const QFont mono = MRTheme::monoFont(11.5);
    QVERIFY(QFontInfo(mono).fixedPitch());
    QCOMPARE(QFontInfo(MRTheme::uiFont(13, QFont::DemiBold)).weight(), int(QFont::DemiBold));
    // Design points render at that many logical pixels.
    QCOMPARE(qRound(QFontInfo(MRTheme::uiFont(20)).pixelSize() * 1.0), 20);
    QVERIFY(QFontInfo(MRTheme::serifDisplayFont(24)).styleHint() == QFont::Serif ||
            QFontInfo(MRTheme::serifDisplayFont(24)).family().contains(u"Serif"_s));
}

void TestTheme::fixedPitchWhateverTheDesktopSays_data()
{
    // What the desktop may name as its fixed font; without a desktop configuration it can
    // resolve to a proportional face.
    QTest::addColumn<QString>("desktopFixed");
    QTest::newRow("proportional sans") << u"DejaVu Sans"_s;
    QTest::newRow("serif alias") << u"serif"_s;
    QTest::newRow("unknown family") << u"No Such Family Here"_s;
    QTest::newRow("monospace alias") << u"monospace"_s;
}

void TestTheme::fixedPitchWhateverTheDesktopSays()
{
    QFETCH(QString, desktopFixed);
    const QString family = MRTheme::fixedPitchFamily(QFont(desktopFixed));
    QVERIFY2(!family.isEmpty(), "no fixed-pitch family found although a monospace font is installed");
    QVERIFY2(QFontInfo(QFont(family)).fixedPitch(), qPrintable(family));
    QVERIFY(QFontDatabase::isFixedPitch(family));
    for (const int weight : {int(QFont::Normal), int(QFont::Bold)})
        QVERIFY(QFontInfo(MRTheme::monoFont(13, weight)).fixedPitch());
}

void TestTheme::modes()
{
    ThemeManager& theme = ThemeManager::shared();
    QSignalSpy changed(&theme, &ThemeManager::themeDidChange);
    QCOMPARE(int(theme.mode()), 0);
    QCOMPARE(theme.label(), u"System"_s);
    QCOMPARE(theme.symbolName(), u"circle.lefthalf.filled"_s);

    const QList<int> expected = {1, 2, 0};
    const QStringList labels = {u"Light"_s, u"Dark"_s, u"System"_s};
    const QStringList symbols = {u"sun.max"_s, u"moon.stars"_s, u"circle.lefthalf.filled"_s};
    for (int i = 0; i < 3; ++i) {
        theme.cycle();
        QCOMPARE(int(theme.mode()), expected[i]);
        QCOMPARE(QSettings().value(u"MRThemeMode"_s).toInt(), expected[i]);
        QCOMPARE(theme.label(), labels[i]);
        QCOMPARE(theme.symbolName(), symbols[i]);
    }
    QCOMPARE(changed.size(), 3);

    // Light on a desktop that prefers dark resolves every colour to its light value.
    theme.setMode(ThemeManager::Mode(1));
    QVERIFY(!theme.isDark());
    QCOMPARE(QGuiApplication::palette().color(QPalette::Window), MRTheme::hex(0xFBFAF8));
    theme.setMode(ThemeManager::Mode(1));
    QCOMPARE(changed.size(), 5);

    theme.setMode(ThemeManager::Mode(2));
    QVERIFY(theme.isDark());
    QCOMPARE(MRTheme::textPrimary().resolve(QGuiApplication::palette()), MRTheme::hex(0xF4F2EC));

    // An out-of-range value stays stored, behaves as System, and cycles by the remainder.
    theme.setMode(ThemeManager::Mode(5));
    QCOMPARE(QSettings().value(u"MRThemeMode"_s).toInt(), 5);
    QCOMPARE(theme.label(), u"System"_s);
    QCOMPARE(theme.symbolName(), u"circle.lefthalf.filled"_s);
    theme.cycle();
    QCOMPARE(int(theme.mode()), 0);
    theme.setMode(ThemeManager::Mode(-2));
    theme.cycle();
    QCOMPARE(int(theme.mode()), -1);
    QCOMPARE(theme.label(), u"System"_s);
}

void TestTheme::systemFollowsDesktop()
{
    ThemeManager& theme = ThemeManager::shared();
    QCOMPARE(DesktopColorScheme::shared().preference(), DesktopColorScheme::Preference::Dark);
    theme.setMode(ThemeManager::Mode(0));
    QVERIFY(theme.isDark());
    QCOMPARE(QGuiApplication::palette().color(QPalette::Window), MRTheme::hex(0x1A1917));

    // The desktop switches to light: System mode re-applies by itself.
    QSignalSpy changed(&theme, &ThemeManager::themeDidChange);
    announceScheme(2);
    QVERIFY(changed.wait(5000));
    QVERIFY(!theme.isDark());
    QCOMPARE(QGuiApplication::palette().color(QPalette::Window), MRTheme::hex(0xFBFAF8));

    // A fixed mode ignores the desktop.
    theme.setMode(ThemeManager::Mode(2));
    changed.clear();
    QSignalSpy desktopChanged(&DesktopColorScheme::shared(), &DesktopColorScheme::preferenceChanged);
    announceScheme(1);
    QVERIFY(desktopChanged.wait(5000));
    QVERIFY(changed.isEmpty());
    QVERIFY(theme.isDark());
    QCOMPARE(DesktopColorScheme::fromPortalValue(QVariant(u"dark"_s)), DesktopColorScheme::Preference::None);
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(u"Mirelo"_s);
    QGuiApplication::setApplicationName(u"Mirelo"_s);
    TestTheme test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_theme.moc"
