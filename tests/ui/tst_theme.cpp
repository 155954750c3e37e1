#include "platform/DesktopColorScheme.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
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
    void initTestCase()
    {
        QGuiApplication::setOrganizationName(u"Mirelo"_s);
        QGuiApplication::setApplicationName(u"Mirelo"_s);
        // A private session bus with a settings portal that prefers dark; it must exist before
        // the theme manager first asks the desktop.
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is needed for this test");
        QVERIFY(m_bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(m_bus.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());

        m_portalThread.start();
        m_portal = new FakePortal;
        m_portal->moveToThread(&m_portalThread);
        QDBusConnection portalBus = QDBusConnection::connectToBus(address, u"portal"_s);
        QVERIFY(portalBus.isConnected());
        QVERIFY(
            portalBus.registerObject(u"/org/freedesktop/portal/desktop"_s, m_portal, QDBusConnection::ExportAllSlots));
        QVERIFY(portalBus.registerService(u"org.freedesktop.portal.Desktop"_s));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"portal"_s);
        m_portalThread.quit();
        m_portalThread.wait();
        delete m_portal;
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // Colours resolve against the palette they are painted with: the application's carries
    // the appearance, and one that is neither ours nor dark reads as light.
    void paletteCarriesTheAppearance()
    {
        QCOMPARE(MRTheme::textPrimary().resolve(MRTheme::palette(true)), MRTheme::textPrimary().resolve(true));
        QPalette grey;
        grey.setColor(QPalette::Window, QColor(200, 200, 200));
        QCOMPARE(MRTheme::sqlKeyword().resolve(grey), MRTheme::sqlKeyword().resolve(false));
        // Design points render at that many logical pixels, in the weight asked for.
        QCOMPARE(QFontInfo(MRTheme::uiFont(20)).pixelSize(), 20);
        QCOMPARE(QFontInfo(MRTheme::uiFont(13, QFont::DemiBold)).weight(), int(QFont::DemiBold));
    }

    // What the desktop may name as its fixed font, a proportional face or an unknown family
    // (without a desktop configuration it can resolve to either), still gives a fixed-pitch one.
    void fixedPitchWhateverTheDesktopSays()
    {
        for (const QString& desktopFixed : {u"DejaVu Sans"_s, u"No Such Family Here"_s}) {
            const QString family = MRTheme::fixedPitchFamily(QFont(desktopFixed));
            QVERIFY2(QFontInfo(QFont(family)).fixedPitch(), qPrintable(desktopFixed + u" gave "_s + family));
        }
        for (const int weight : {int(QFont::Normal), int(QFont::Bold)})
            QVERIFY(QFontInfo(MRTheme::monoFont(13, weight)).fixedPitch());
    }

    void modes()
    {
        ThemeManager& theme = ThemeManager::shared();
        QSignalSpy changed(&theme, &ThemeManager::themeDidChange);
        // Each mode is stored as the cycle reaches it (the toolbar's test walks the cycle's order).
        for (int step = 0; step < 3; ++step) {
            theme.cycle();
            QCOMPARE(QSettings().value(u"MRThemeMode"_s).toInt(), int(theme.mode()));
        }
        QCOMPARE(changed.size(), 3);

        // An out-of-range value stays stored, behaves as System, and cycles by the remainder.
        theme.setMode(ThemeManager::Mode(5));
        QCOMPARE(QSettings().value(u"MRThemeMode"_s).toInt(), 5);
        QCOMPARE(theme.label(), u"System"_s);
        theme.cycle();
        QCOMPARE(int(theme.mode()), 0);
    }

    void systemFollowsDesktop()
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
        QCOMPARE(QGuiApplication::palette().color(QPalette::Window), MRTheme::hex(0xFBFAF8));

        // A fixed mode ignores the desktop.
        theme.setMode(ThemeManager::Mode(2));
        changed.clear();
        QSignalSpy desktopChanged(&DesktopColorScheme::shared(), &DesktopColorScheme::preferenceChanged);
        announceScheme(1);
        QVERIFY(desktopChanged.wait(5000));
        QVERIFY(changed.isEmpty());
        QVERIFY(theme.isDark());
    }

private:
    void announceScheme(uint scheme)
    {
        m_portal->scheme = scheme;
        QDBusMessage signal = QDBusMessage::createSignal(u"/org/freedesktop/portal/desktop"_s,
                                                         u"org.freedesktop.portal.Settings"_s, u"SettingChanged"_s);
        signal << u"org.freedesktop.appearance"_s << u"color-scheme"_s << QVariant::fromValue(QDBusVariant(scheme));
        QVERIFY(QDBusConnection(u"portal"_s).send(signal));
    }

    QProcess m_bus;
    QThread m_portalThread;
    FakePortal* m_portal = nullptr;
};

QTEST_MAIN(TestTheme)

#include "tst_theme.moc"
