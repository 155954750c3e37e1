#include "TestArchive.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <grp.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Runs the stand-in application (update_testapp) from a real application folder and lets
// it replace and restart itself through the relaunch script.
class TestUpdateRelaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void relaunch_data();
    void relaunch();
    void endToEnd();
    void unwritableParent();

private:
    void installApp(const QString& folder, qint64 build);
    QProcess* start(const QString& bundle, const QStringList& arguments, bool asOtherUser = false);
    QStringList log() const;
    QStringList entries(const QString& folder) const;
    QByteArray buildOf(const QString& bundle) const;
    void serveAppcast(qint64 build, const QByteArray& sha256 = "00", const QByteArray& path = "/d/none.zip");
    bool waitForLogLine(const QString& prefix);

    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    QString m_tmp;
    QString m_bundle;
};

void TestUpdateRelaunch::init()
{
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    // Open to every user: one test runs the application as another one.
    QFile::setPermissions(m_scratch->path(), QFile::Permissions(0x7755));
    m_tmp = m_scratch->filePath(u"tmp"_s);
    QVERIFY(QDir().mkpath(m_tmp));
    QFile::setPermissions(m_tmp, QFile::Permissions(0x7777));
    m_bundle = m_scratch->filePath(u"Apps/Mirelo.app"_s);
    m_server = std::make_unique<TestHttpServer>();
}

void TestUpdateRelaunch::cleanup()
{
    m_server.reset();
    m_scratch.reset();
}

void TestUpdateRelaunch::installApp(const QString& folder, qint64 build)
{
    QVERIFY(QDir().mkpath(folder));
    const QString executable = folder + u"/update_testapp"_s;
    QVERIFY(QFile::copy(QStringLiteral(MIRELO_TEST_APP), executable));
    QVERIFY(QFile::setPermissions(executable, QFile::Permissions(0x7755)));
    QFile file(folder + u"/build.txt"_s);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(build));
}

QProcess* TestUpdateRelaunch::start(const QString& bundle, const QStringList& arguments, bool asOtherUser)
{
    auto* process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TMPDIR"_s, m_tmp);
    env.insert(u"MIRELO_TEST_SERVER"_s, m_server->baseUrl());
    env.insert(u"MIRELO_TEST_KEY"_s, u"secret-key"_s);
    env.insert(u"MIRELO_TEST_LOG"_s, m_scratch->filePath(u"log"_s));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    if (asOtherUser) {
        process->setChildProcessModifier([] {
            constexpr uid_t kNobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(126);
        });
    }
    process->start(bundle + u"/update_testapp"_s, arguments);
    return process;
}

QStringList TestUpdateRelaunch::log() const
{
    QFile file(m_scratch->filePath(u"log"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool TestUpdateRelaunch::waitForLogLine(const QString& prefix)
{
    return QTest::qWaitFor(
        [&] {
            const QStringList lines = log();
            return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); });
        },
        60000);
}

QStringList TestUpdateRelaunch::entries(const QString& folder) const
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray TestUpdateRelaunch::buildOf(const QString& bundle) const
{
    QFile file(bundle + u"/build.txt"_s);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestUpdateRelaunch::serveAppcast(qint64 build, const QByteArray& sha256, const QByteArray& path)
{
    m_server->route(
        "GET", "/api/v1/desktop/appcast",
        TestHttpServer::json(200, "{\"release\":{\"version\":\"2.0\",\"build\":" + QByteArray::number(build) +
                                      ",\"sha256\":\"" + sha256 + "\",\"download_path\":\"" + path + "\"}}"));
}

void TestUpdateRelaunch::relaunch_data()
{
    QTest::addColumn<bool>("staged");
    QTest::addColumn<qint64>("finalBuild");
    QTest::newRow("new build staged") << true << 42LL;
    // The copy fails: the old application stays whole and is started again.
    QTest::newRow("staged build missing") << false << 41LL;
}

void TestUpdateRelaunch::relaunch()
{
    QFETCH(bool, staged);
    QFETCH(qint64, finalBuild);
    installApp(m_bundle, 41);
    const QString staging =
        QDir(m_tmp).filePath(u"mirelo-update-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    const QString stagedApp = staging + u"/extracted/Mirelo.app"_s;
    QVERIFY(QDir().mkpath(staging + u"/extracted"_s));
    if (staged)
        installApp(stagedApp, 42);
    serveAppcast(finalBuild); // the restarted application finds itself up to date

    QProcess* old = start(m_bundle, {u"relaunch"_s, stagedApp});
    QVERIFY(old->waitForStarted());
    const qint64 oldPid = old->processId();
    QTRY_COMPARE_WITH_TIMEOUT(old->state(), QProcess::NotRunning, 30000);
    QCOMPARE(old->exitStatus(), QProcess::NormalExit);
    QCOMPARE(old->exitCode(), 0);

    QVERIFY2(waitForLogLine(u"up-to-date "_s), qPrintable(log().join(u" | "_s)));
    const QStringList lines = log();
    QCOMPARE(lines.size(), 3);
    const QStringList first = lines.at(0).split(u' ');
    const QStringList second = lines.at(1).split(u' ');
    QCOMPARE(first.value(0), u"started"_s);
    QCOMPARE(first.value(1), u"41"_s);
    QCOMPARE(first.value(2).toLongLong(), oldPid);
    QCOMPARE(first.mid(3).join(u' '), m_bundle);
    QCOMPARE(second.value(0), u"started"_s);
    QCOMPARE(second.value(1), QString::number(finalBuild));
    QVERIFY(second.value(2) != first.value(2));
    QCOMPARE(second.mid(3).join(u' '), m_bundle);
    QCOMPARE(lines.at(2), u"up-to-date %1"_s.arg(finalBuild));

    QCOMPARE(buildOf(m_bundle), QByteArray::number(finalBuild));
    QCOMPARE(entries(QFileInfo(m_bundle).path()), QStringList{u"Mirelo.app"_s});
    QCOMPARE(entries(m_tmp), QStringList()); // staging folder and script removed
}

void TestUpdateRelaunch::endToEnd()
{
    installApp(m_bundle, 41);

    // Build 42's zip, and the appcast the tool writes for it.
    const QString next = m_scratch->filePath(u"build-42/Mirelo.app"_s);
    installApp(next, 42);
    const QString zip = m_scratch->filePath(u"Mirelo-2.0-42.zip"_s);
    {
        QFile file(zip);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(TestArchive::zip(TestArchive::entriesOfFolder(next, u"Mirelo.app"_s)));
    }
    QProcess tool;
    tool.start(QStringLiteral(MIRELO_APPCAST_TOOL), {u"--version"_s, u"2.0"_s, u"--build"_s, u"42"_s,
                                                     u"--download-path"_s, u"/downloads/Mirelo-2.0-42.zip"_s, zip});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitCode(), 0);
    m_server->route("GET", "/api/v1/desktop/appcast", TestHttpServer::json(200, tool.readAllStandardOutput()));
    QFile zipFile(zip);
    QVERIFY(zipFile.open(QIODevice::ReadOnly));
    m_server->route("GET", "/downloads/Mirelo-2.0-42.zip", TestHttpServer::Response{200, {}, zipFile.readAll()});

    QProcess* old = start(m_bundle, {});
    QVERIFY(old->waitForStarted());
    QVERIFY2(waitForLogLine(u"up-to-date 42"_s), qPrintable(log().join(u" | "_s)));
    QTRY_COMPARE_WITH_TIMEOUT(old->state(), QProcess::NotRunning, 30000);
    QCOMPARE(old->exitCode(), 0);

    const QStringList lines = log();
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(0).startsWith(u"started 41 "_s));
    QCOMPARE(lines.at(1), u"staged"_s);
    QVERIFY(lines.at(2).startsWith(u"started 42 "_s));
    QVERIFY(lines.at(2).endsWith(u' ' + m_bundle));
    QCOMPARE(lines.at(3), u"up-to-date 42"_s);

    QCOMPARE(buildOf(m_bundle), "42");
    QVERIFY(QFileInfo(m_bundle + u"/update_testapp"_s).isExecutable());
    QCOMPARE(entries(QFileInfo(m_bundle).path()), QStringList{u"Mirelo.app"_s});
    QCOMPARE(entries(m_tmp), QStringList());
    QStringList paths;
    for (const TestHttpServer::Request& request : m_server->requests())
        paths.append(QString::fromUtf8(request.path));
    QCOMPARE(paths, (QStringList{u"/api/v1/desktop/appcast"_s, u"/downloads/Mirelo-2.0-42.zip"_s,
                                 u"/api/v1/desktop/appcast"_s}));
}

void TestUpdateRelaunch::unwritableParent()
{
    // The folder holding the application cannot take the new copy. As root, permission
    // bits stop nobody, so the application then runs as an ordinary user.
    const bool root = ::geteuid() == 0;
    const QString locked = m_scratch->filePath(u"Locked"_s);
    const QString bundle = locked + u"/Mirelo.app"_s;
    installApp(bundle, 41);
    serveAppcast(42, "ab", "/d/Mirelo.zip");
    QFile logFile(m_scratch->filePath(u"log"_s));
    QVERIFY(logFile.open(QIODevice::WriteOnly));
    logFile.close();
    QFile::setPermissions(logFile.fileName(), QFile::Permissions(0x6666));
    if (root)
        QCOMPARE(::chown(QFile::encodeName(bundle).constData(), 65534, 65534), 0);
    QVERIFY(QFile::setPermissions(locked, QFile::Permissions(0x5555)));

    QProcess* app = start(bundle, {}, root);
    QVERIFY(app->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(app->state(), QProcess::NotRunning, 30000);
    QFile::setPermissions(locked, QFile::Permissions(0x7755));

    QCOMPARE(log().value(1),
             u"error The update can’t be installed because the folder %1 can’t be written."_s.arg(locked));
    QCOMPARE(app->exitCode(), 1);
    QCOMPARE(m_server->requests().size(), 1); // the appcast, never the download
    QCOMPARE(buildOf(bundle), "41");
    QCOMPARE(entries(m_tmp), QStringList());
}

QTEST_GUILESS_MAIN(TestUpdateRelaunch)
#include "tst_updaterelaunch.moc"
