#include "TestArchive.h"
#include "server/APIManager.h"
#include "support/TestHttpServer.h"
#include "update/UpdateManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using TestArchive::Entry;

namespace {

const QByteArray kDownloadPath = "/downloads/Mirelo-42.zip";

struct InstallOutcome
{
    int calls = 0;
    QString error;
    bool synchronous = false;
    QList<double> progress;
};

QString sha256(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QByteArray zipped(const QList<Entry>& entries)
{
    return TestArchive::zip(entries);
}

const QString kUnpackFailed = u"Couldn't unpack the downloaded build."_s;
const QString kNoApp = u"The downloaded build didn't contain a .app."_s;

} // namespace

class TestUpdateInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void stagesArchives_data();
    void stagesArchives();
    void refusesUnsafeArchives_data();
    void refusesUnsafeArchives();
    void checksums();
    void downloadFailures();
    void downloadURL_data();
    void downloadURL();
    void unsendableKey();
    void secureConnectionRule();
    void downloadRedirects_data();
    void downloadRedirects();
    void progress();
    void oneAttemptAtATime();
    void installationPlace();

private:
    UpdateInfo offer(const QByteArray& body, const QByteArray& path = kDownloadPath);
    InstallOutcome install(const UpdateInfo& info);
    QStringList temporaryEntries() const;

    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    QString m_tmp;
    QString m_bundle;
    QStringList m_relaunched;
};

void TestUpdateInstall::init()
{
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    // Staging folders go to the temporary directory: a private one shows what is left behind.
    m_tmp = m_scratch->filePath(u"tmp"_s);
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    m_bundle = m_scratch->filePath(u"Apps/Mirelo.app"_s);
    QVERIFY(QDir().mkpath(m_bundle));

    m_server = std::make_unique<TestHttpServer>();
    APIManager::shared().setServerURL(m_server->baseUrl());
    APIManager::shared().setApiKey(u"secret-key"_s);
    m_relaunched.clear();
    UpdateManager& manager = UpdateManager::shared();
    manager.setRunningBundleForTesting(m_bundle);
    manager.setRelaunchForTesting([this](const QString& app) { m_relaunched.append(app); });
}

void TestUpdateInstall::cleanup()
{
    qunsetenv("TMPDIR");
    m_server.reset();
    m_scratch.reset();
}

UpdateInfo TestUpdateInstall::offer(const QByteArray& body, const QByteArray& path)
{
    TestHttpServer::Response response;
    response.headers = {{"Content-Type", "application/octet-stream"}};
    response.body = body;
    m_server->route("GET", path, response);
    UpdateInfo info;
    info.version = u"2.0"_s;
    info.build = 42;
    info.sha256 = sha256(body);
    info.downloadPath = QString::fromUtf8(path);
    return info;
}

InstallOutcome TestUpdateInstall::install(const UpdateInfo& info)
{
    InstallOutcome outcome;
    bool returned = false;
    UpdateManager::shared().downloadAndInstall(
        info, [&outcome](double fraction) { outcome.progress.append(fraction); },
        [&outcome, &returned](const QString& error) {
            ++outcome.calls;
            outcome.error = error;
            outcome.synchronous = !returned;
        });
    returned = true;
    [&] { QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 30000); }();
    return outcome;
}

QStringList TestUpdateInstall::temporaryEntries() const
{
    return QDir(m_tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void TestUpdateInstall::stagesArchives_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("app"); // the application staged, when there is no error

    const QList<Entry> app = TestArchive::appFolder(u"Mirelo.app"_s);
    const QList<Entry> nested =
        QList<Entry>{Entry::folder(u"Mirelo-2.0"_s)} + TestArchive::appFolder(u"Mirelo-2.0/Mirelo.app"_s);
    QTest::newRow("zip, application at the top") << zipped(app) << QString() << u"Mirelo.app"_s;
    // Only the top level is searched, as the packages put the application there.
    QTest::newRow("zip, application one level down") << zipped(nested) << kNoApp << QString();
    QTest::newRow("zip without an application") << zipped({Entry::file(u"README"_s, "hello")}) << kNoApp << QString();
    QTest::newRow("zip, a link named like an application")
        << zipped({Entry::folder(u"Real"_s), Entry::symlink(u"Fake.app"_s, u"Real"_s)}) << kNoApp << QString();
    QTest::newRow("zip, the first application by name")
        << zipped(TestArchive::appFolder(u"B.app"_s) + TestArchive::appFolder(u"A.app"_s)) << QString() << u"A.app"_s;
    QTest::newRow("zip, links that stay inside")
        << zipped(app + QList<Entry>{Entry::file(u"Mirelo.app/lib/libx.so.1"_s, "elf"),
                                     Entry::symlink(u"Mirelo.app/lib/libx.so"_s, u"libx.so.1"_s),
                                     Entry::symlink(u"Mirelo.app/current"_s, u"./lib"_s),
                                     Entry::symlink(u"Mirelo.app/lib/self"_s, u"../lib/"_s)})
        << QString() << u"Mirelo.app"_s;
    QTest::newRow("disk image, application at the top")
        << TestArchive::diskImage(app + QList<Entry>{Entry::symlink(u"Applications"_s, u"/usr/share/applications"_s)})
        << QString() << u"Mirelo.app"_s;
    QTest::newRow("disk image, application one level down")
        << TestArchive::diskImage(nested) << u"The disk image didn't contain a .app."_s << QString();
    QTest::newRow("disk image, application with a link out")
        << TestArchive::diskImage(app + QList<Entry>{Entry::symlink(u"Mirelo.app/etc"_s, u"/etc"_s)})
        << u"Couldn't copy the app out of the disk image."_s << QString();
    QTest::newRow("a 1-byte file is taken as a disk image")
        << QByteArray("x") << u"Couldn't mount the downloaded disk image."_s << QString();
    QTest::newRow("PK, but no zip") << QByteArray("PK\x03\x04 not really") << kUnpackFailed << QString();
}

void TestUpdateInstall::stagesArchives()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QFETCH(QString, app);

    const InstallOutcome outcome = install(offer(body));
    QCOMPARE(outcome.error, error);
    QVERIFY(!outcome.synchronous);
    if (!error.isEmpty()) {
        QVERIFY(m_relaunched.isEmpty());
        QCOMPARE(temporaryEntries(), QStringList());
        return;
    }
    QCOMPARE(m_relaunched.size(), 1);
    const QString staged = m_relaunched.at(0);
    QCOMPARE(UpdateManager::shared().stagedAppPath(), staged);
    const QStringList left = temporaryEntries();
    QCOMPARE(left.size(), 1);
    QVERIFY(QRegularExpression(u"^mirelo-update-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s)
                .match(left.at(0))
                .hasMatch());
    QCOMPARE(staged, QDir(m_tmp).filePath(left.at(0) + u"/extracted/"_s + app));

    QFile build(staged + u"/build.txt"_s);
    QVERIFY(build.open(QIODevice::ReadOnly));
    QCOMPARE(build.readAll(), "42");
    QVERIFY(QFileInfo(staged + u"/mirelo"_s).isExecutable());
    if (QFileInfo(staged + u"/current"_s).isSymLink()) {
        QCOMPARE(QFileInfo(staged + u"/lib/libx.so"_s).symLinkTarget(), staged + u"/lib/libx.so.1"_s);
        QVERIFY(QFileInfo(staged + u"/current/libx.so"_s).exists());
    }
}

void TestUpdateInstall::refusesUnsafeArchives_data()
{
    QTest::addColumn<QList<Entry>>("extra");
    QTest::addColumn<QString>("outside"); // must not exist afterwards ("" for none)

    const QString escaped = QDir::temp().filePath(u"mirelo-escaped-%1"_s.arg(QCoreApplication::applicationPid()));
    QTest::newRow("dot-dot entry") << QList<Entry>{Entry::file(u"../../escaped"_s, "x")} << QString();
    QTest::newRow("dot-dot inside a path")
        << QList<Entry>{Entry::file(u"Mirelo.app/../../../escaped"_s, "x")} << QString();
    QTest::newRow("absolute path") << QList<Entry>{Entry::file(escaped, "x")} << escaped;
    QTest::newRow("link out of the folder")
        << QList<Entry>{Entry::symlink(u"Mirelo.app/out"_s, u"../../.."_s)} << QString();
    QTest::newRow("absolute link") << QList<Entry>{Entry::symlink(u"Mirelo.app/etc"_s, u"/etc"_s)} << QString();
    QTest::newRow("climb behind a name") << QList<Entry>{Entry::folder(u"Mirelo.app/sub"_s),
                                                         Entry::symlink(u"Mirelo.app/l"_s, u"sub/../../../../x"_s)}
                                         << QString();
    QTest::newRow("link then a file through it")
        << QList<Entry>{Entry::symlink(u"Mirelo.app/up"_s, u"."_s), Entry::file(u"Mirelo.app/up/x"_s, "x")}
        << QString();
    // 4 MiB of zeros pack into a few kilobytes: far past ten times the archive's size.
    QTest::newRow("too much data") << QList<Entry>{Entry::file(u"Mirelo.app/padding"_s,
                                                               QByteArray(4 * 1024 * 1024, '\0'))}
                                   << QString();
}

void TestUpdateInstall::refusesUnsafeArchives()
{
    QFETCH(QList<Entry>, extra);
    QFETCH(QString, outside);

    const InstallOutcome outcome = install(offer(zipped(TestArchive::appFolder(u"Mirelo.app"_s) + extra)));
    QCOMPARE(outcome.error, kUnpackFailed);
    QVERIFY(m_relaunched.isEmpty());
    QCOMPARE(temporaryEntries(), QStringList());
    if (!outside.isEmpty())
        QVERIFY(!QFileInfo::exists(outside));
}

void TestUpdateInstall::checksums()
{
    const QByteArray body = zipped(TestArchive::appFolder(u"Mirelo.app"_s));
    UpdateInfo info = offer(body);

    // A digest that differs in one character: refused before anything is unpacked.
    UpdateInfo wrong = info;
    wrong.sha256[10] = wrong.sha256.at(10) == u'0' ? u'1' : u'0';
    QCOMPARE(install(wrong).error,
             u"Checksum mismatch — the download may be corrupt or tampered with. Update cancelled."_s);
    QCOMPARE(temporaryEntries(), QStringList());
    QVERIFY(m_relaunched.isEmpty());

    // The appcast may give the digest in upper case.
    UpdateManager::setCurrentBuildForTesting(41);
    m_server->route("GET", "/api/v1/desktop/appcast",
                    TestHttpServer::json(200, "{\"release\":{\"build\":42,\"sha256\":\"" +
                                                  info.sha256.toUpper().toUtf8() + "\",\"download_path\":\"" +
                                                  kDownloadPath + "\"}}"));
    std::optional<UpdateInfo> offered;
    bool done = false;
    UpdateManager::shared().checkWithCompletion([&](const std::optional<UpdateInfo>& update, const QString&) {
        offered = update;
        done = true;
    });
    QTRY_VERIFY(done);
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
    QVERIFY(offered);
    QCOMPARE(install(*offered).error, QString());
    QCOMPARE(m_relaunched.size(), 1);
}

void TestUpdateInstall::downloadFailures()
{
    UpdateInfo missing = offer("unused");
    missing.downloadPath = u"/downloads/gone.zip"_s;
    QCOMPARE(install(missing).error, u"Download failed (HTTP 404)."_s);
    QCOMPARE(temporaryEntries(), QStringList());

    TestHttpServer::Response cut;
    cut.body = zipped(TestArchive::appFolder(u"Mirelo.app"_s));
    cut.dropAfterBodyBytes = 10;
    m_server->route("GET", kDownloadPath, cut);
    UpdateInfo info;
    info.downloadPath = QString::fromUtf8(kDownloadPath);
    info.sha256 = sha256(cut.body);
    QCOMPARE(install(info).error, u"The network connection was lost."_s);
    QCOMPARE(temporaryEntries(), QStringList());
    QVERIFY(m_relaunched.isEmpty());
}

void TestUpdateInstall::downloadURL_data()
{
    QTest::addColumn<QString>("downloadPath");
    QTest::newRow("host continued") << u".evil.example/x.zip"_s;
    QTest::newRow("user information") << u"@evil.example/x.zip"_s;
    QTest::newRow("port continued") << u":8080/x.zip"_s;
    QTest::newRow("no leading slash") << u"downloads/x.zip"_s;
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces") << u"/down loads/x.zip"_s;
}

void TestUpdateInstall::downloadURL()
{
    QFETCH(QString, downloadPath);
    UpdateInfo info = offer("unused");
    info.downloadPath = downloadPath;
    const InstallOutcome outcome = install(info);
    QCOMPARE(outcome.error, u"Invalid download URL."_s);
    QVERIFY(outcome.synchronous);
    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
}

void TestUpdateInstall::unsendableKey()
{
    APIManager::shared().setApiKey(u"secret-key\r\nX-Injected: yes"_s);
    const InstallOutcome outcome = install(offer("unused"));
    QCOMPARE(outcome.error, u"The API key contains characters that cannot be sent."_s);
    QVERIFY(outcome.synchronous);
    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
}

void TestUpdateInstall::secureConnectionRule()
{
    const UpdateInfo info = offer(zipped(TestArchive::appFolder(u"Mirelo.app"_s)));

    APIManager::shared().setServerURL(u"http://mirelo.example"_s);
    InstallOutcome outcome = install(info);
    QCOMPARE(outcome.error, u"Updates require a secure (https) connection to your server."_s);
    QVERIFY(outcome.synchronous);

    // Plain http is fine on this machine, under a path of the server's URL too.
    m_server->route("GET", "/base" + kDownloadPath,
                    TestHttpServer::Response{200, {}, zipped(TestArchive::appFolder(u"Mirelo.app"_s))});
    APIManager::shared().setServerURL(u"http://localhost:%1/base/"_s.arg(m_server->port()));
    outcome = install(info);
    QCOMPARE(outcome.error, QString());
    const TestHttpServer::Request request = m_server->requests().value(0);
    QCOMPARE(request.path, "/base" + kDownloadPath);
    QCOMPARE(request.headers.value("x-api-key"), "secret-key");
    QCOMPARE(request.headers.value("accept"), "*/*");
}

void TestUpdateInstall::downloadRedirects_data()
{
    QTest::addColumn<QString>("location"); // %1 is the server's port
    QTest::addColumn<QString>("error");
    QTest::newRow("same origin") << u"/mirror/Mirelo-42.zip"_s << QString();
    QTest::newRow("other host name") << u"http://localhost:%1/mirror/Mirelo-42.zip"_s
                                     << u"The server redirected to another address; the request was not sent there."_s;
}

void TestUpdateInstall::downloadRedirects()
{
    QFETCH(QString, location);
    QFETCH(QString, error);
    const UpdateInfo info = offer(zipped(TestArchive::appFolder(u"Mirelo.app"_s)), "/mirror/Mirelo-42.zip");
    TestHttpServer::Response redirect;
    redirect.status = 302;
    if (location.contains(u"%1"_s))
        location = location.arg(m_server->port());
    redirect.headers = {{"Location", location.toUtf8()}};
    m_server->route("GET", kDownloadPath, redirect);
    UpdateInfo viaRedirect = info;
    viaRedirect.downloadPath = QString::fromUtf8(kDownloadPath);

    QCOMPARE(install(viaRedirect).error, error);
    QCOMPARE(m_server->requests().size(), error.isEmpty() ? 2 : 1);
    QCOMPARE(m_relaunched.size(), error.isEmpty() ? 1 : 0);
}

void TestUpdateInstall::progress()
{
    // Data that does not compress, so the download is large and arrives in many pieces.
    QByteArray payload(2 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator random(14);
    random.fillRange(reinterpret_cast<quint32*>(payload.data()), payload.size() / 4);
    const QByteArray body =
        zipped(TestArchive::appFolder(u"Mirelo.app"_s) + QList<Entry>{Entry::file(u"Mirelo.app/payload"_s, payload)});
    const InstallOutcome outcome = install(offer(body));
    QCOMPARE(outcome.error, QString());
    QVERIFY(!outcome.progress.isEmpty());
    QCOMPARE(outcome.progress.last(), 1.0);
    for (qsizetype i = 0; i < outcome.progress.size(); ++i) {
        QVERIFY(outcome.progress.at(i) >= 0.0 && outcome.progress.at(i) <= 1.0);
        if (i > 0)
            QVERIFY(outcome.progress.at(i) >= outcome.progress.at(i - 1));
    }
}

void TestUpdateInstall::oneAttemptAtATime()
{
    TestHttpServer::Response held;
    held.body = zipped(TestArchive::appFolder(u"Mirelo.app"_s));
    held.pauseAfterBodyBytes = 5;
    m_server->route("GET", kDownloadPath, held);
    UpdateInfo info;
    info.downloadPath = QString::fromUtf8(kDownloadPath);
    info.sha256 = sha256(held.body);

    QString first;
    int firstCalls = 0;
    UpdateManager::shared().downloadAndInstall(info, {}, [&](const QString& error) {
        ++firstCalls;
        first = error;
    });
    QVERIFY(UpdateManager::shared().isInstalling());
    QVERIFY(m_server->waitForRequests(1));
    const InstallOutcome second = install(info);
    QCOMPARE(second.error, u"An update is already being installed."_s);
    QVERIFY(second.synchronous);

    m_server->resumePaused();
    QTRY_COMPARE_WITH_TIMEOUT(firstCalls, 1, 30000);
    QCOMPARE(first, QString());
    QVERIFY(!UpdateManager::shared().isInstalling());
    QCOMPARE(m_server->requests().size(), 1);
}

void TestUpdateInstall::installationPlace()
{
    UpdateManager& manager = UpdateManager::shared();
    const UpdateInfo info = offer(zipped(TestArchive::appFolder(u"Mirelo.app"_s)));
    QCOMPARE(manager.installKind(), UpdateManager::InstallKind::SelfUpdating);

    // Installed by the package manager: the package manager updates it.
    manager.setRunningBundleForTesting(u"/usr/lib/mirelo/Mirelo.app"_s);
    QCOMPARE(manager.installKind(), UpdateManager::InstallKind::PackageManager);
    InstallOutcome outcome = install(info);
    QCOMPARE(outcome.error, u"This copy of Mirelo is updated by your package manager."_s);
    QVERIFY(outcome.synchronous);

    // Run from a build tree: nothing to replace.
    manager.setRunningBundleForTesting(QString());
    QCOMPARE(manager.installKind(), UpdateManager::InstallKind::NotInstalled);
    outcome = install(info);
    QCOMPARE(outcome.error,
             u"Mirelo can’t update itself because it isn’t running from an installed application folder."_s);
    QVERIFY(outcome.synchronous);

    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(temporaryEntries(), QStringList());
}

QTEST_GUILESS_MAIN(TestUpdateInstall)
#include "tst_updateinstall.moc"
