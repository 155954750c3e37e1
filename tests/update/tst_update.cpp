#include "server/APIManager.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "ui/MRTheme.h"
#include "update/UpdateBannerView.h"
#include "update/UpdateManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <archive.h>
#include <archive_entry.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kAppcastPath = "/api/v1/desktop/appcast";
const QByteArray kDownloadPath = "/downloads/Mirelo-42.zip";

// A folder when the path ends in "/", a symbolic link when it has a target, a special
// file when the mode carries a file type (S_IFIFO | 0644), else a file.
struct Entry
{
    QString path;
    QByteArray data;
    QString target = {};
    int mode = 0644;
};

la_ssize_t appendTo(archive*, void* out, const void* buffer, size_t length)
{
    static_cast<QByteArray*>(out)->append(static_cast<const char*>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

// A zip archive or an ISO 9660 disk image made entry by entry, hostile ones included.
QByteArray archiveOf(const QList<Entry>& entries, bool diskImage = false)
{
    QByteArray out;
    archive* a = archive_write_new();
    if (diskImage) {
        archive_write_set_format_iso9660(a);
        archive_write_set_option(a, "iso9660", "rockridge", "1");
    } else {
        archive_write_set_format_zip(a);
    }
    archive_write_set_bytes_in_last_block(a, 1);
    archive_write_open(a, &out, nullptr, appendTo, nullptr);
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, QFile::encodeName(e.path).constData());
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_entry_set_perm(entry, mode_t(e.path.endsWith(u'/') ? 0755 : e.mode & 07777));
        if (e.path.endsWith(u'/')) {
            archive_entry_set_filetype(entry, AE_IFDIR);
        } else if (!e.target.isEmpty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, QFile::encodeName(e.target).constData());
        } else {
            archive_entry_set_filetype(entry, (e.mode & AE_IFMT) ? unsigned(e.mode & AE_IFMT) : AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
        }
        if (archive_write_header(a, entry) != ARCHIVE_OK ||
            archive_write_data(a, e.data.constData(), size_t(e.data.size())) != e.data.size())
            qFatal("archive entry %s: %s", qPrintable(e.path), archive_error_string(a));
        archive_entry_free(entry);
    }
    archive_write_free(a); // closes it
    return out;
}

// A small application folder: an executable, a link to it inside, and build 42.
QList<Entry> appFolder(const QString& name)
{
    return {{name + u'/', {}},
            {name + u"/mirelo"_s, "#!/bin/sh\nexit 0\n", {}, 0755},
            {name + u"/run"_s, {}, u"mirelo"_s},
            {name + u"/build.txt"_s, "42"}};
}

QByteArray release(const QByteArray& members)
{
    return "{\"release\":{" + members + "}}";
}

// Whatever lands in the system's temporary folder is found there, as left behind.
const QString kEscaped = QDir::temp().filePath(u"mirelo-escaped-%1"_s.arg(QCoreApplication::applicationPid()));

} // namespace

// The check, download, staging and banner in this process, for an application at build 41
// installed in a scratch folder, with the relaunch left out; then the stand-in application
// (update_testapp) replacing and restarting itself for real through the relaunch script.
class TestUpdate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void check_data();
    void check();
    void automaticChecks();
    void install_data();
    void install();
    void banner();
    void relaunchEndToEnd();
    void failedCopyKeepsTheOld();
    void unwritableParent();

private:
    std::optional<UpdateInfo> checkNow(QString* error = nullptr);
    // Offers body as build 42 through the appcast, its digest in upper case.
    std::optional<UpdateInfo> offer(const QByteArray& body, const QByteArray& downloadPath = kDownloadPath);
    QString install(const std::optional<UpdateInfo>& info);
    static QString shown(const UpdateBannerView& banner);
    void installApp(const QString& folder, const QByteArray& build);
    QProcess* start(const QString& bundle, const QStringList& arguments = {}, bool asOtherUser = false);
    // Waits for the old process to end and the new one to write the last of lines.
    void expectRestarted(QProcess* old, const QStringList& lines);
    QStringList log() const;
    static QStringList entries(const QString& folder);

    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    QString m_tmp;
    QString m_bundle;
    QStringList m_relaunched;
};

void TestUpdate::init()
{
    m_scratch = std::make_unique<QTemporaryDir>();
    // Open to every user: one test runs the application as another one.
    QFile::setPermissions(m_scratch->path(), QFile::Permissions(0x7777));
    // Staging goes to the temporary folder: a private one shows whatever is left behind.
    m_tmp = m_scratch->filePath(u"tmp"_s);
    QVERIFY(QDir().mkpath(m_tmp));
    QFile::setPermissions(m_tmp, QFile::Permissions(0x7777));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    m_bundle = m_scratch->filePath(u"Apps/Mirelo.app"_s);
    QVERIFY(QDir().mkpath(m_bundle));

    m_server = std::make_unique<TestHttpServer>();
    // Spaces and a slash around the address, as typed at sign-in.
    APIManager::shared().setServerURL(u" "_s + m_server->baseUrl() + u"/ "_s);
    APIManager::shared().setApiKey(u"secret-key"_s);
    UpdateManager::setCurrentBuildForTesting(41);
    m_relaunched.clear();
    UpdateManager::shared().setRunningBundleForTesting(m_bundle);
    UpdateManager::shared().setRelaunchForTesting([this](const QString& app) { m_relaunched.append(app); });
}

void TestUpdate::cleanup()
{
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
    qunsetenv("TMPDIR");
}

std::optional<UpdateInfo> TestUpdate::checkNow(QString* error)
{
    int calls = 0;
    std::optional<UpdateInfo> offered;
    UpdateManager::shared().checkWithCompletion([&](const std::optional<UpdateInfo>& update, const QString& e) {
        ++calls;
        offered = update;
        if (error)
            *error = e;
    });
    [&] { QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000); }();
    return offered;
}

std::optional<UpdateInfo> TestUpdate::offer(const QByteArray& body, const QByteArray& downloadPath)
{
    const QByteArray digest = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().toUpper();
    m_server->route("GET", kAppcastPath,
                    TestHttpServer::json(200, release("\"version\":\"2.0\",\"build\":42,\"sha256\":\"" + digest +
                                                      "\",\"download_path\":\"" + downloadPath + "\"")));
    m_server->route("GET", kDownloadPath, TestHttpServer::Response{200, {}, body});
    return checkNow();
}

QString TestUpdate::install(const std::optional<UpdateInfo>& info)
{
    if (!info)
        return u"nothing offered"_s;
    int calls = 0;
    QString error;
    UpdateManager::shared().downloadAndInstall(*info, {}, [&](const QString& e) {
        ++calls;
        error = e;
    });
    [&] { QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 30000); }();
    return error;
}

void TestUpdate::check_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("offered"); // build 42, version 2.0
    QTest::addColumn<QString>("error");

    const QByteArray rest = ",\"sha256\":\"ab\",\"download_path\":\"/d/x.zip\"";
    const QString key = u"secret-key"_s;
    QTest::newRow("41 vs 42") << key << 200 << release("\"version\":\"2.0\",\"build\":42" + rest) << true << QString();
    QTest::newRow("equal builds") << key << 200 << release("\"version\":\"2.0\",\"build\":41" + rest) << false
                                  << QString();
    QTest::newRow("null release") << key << 200 << QByteArray("{\"release\":null}") << false << QString();
    QTest::newRow("missing sha256") << key << 200 << release("\"build\":42,\"download_path\":\"/d/x.zip\"") << false
                                    << QString();
    QTest::newRow("404") << key << 404 << QByteArray() << false << u"Update check failed (HTTP 404)."_s;
    QTest::newRow("not signed in") << QString() << 200 << QByteArray() << false << u"Not signed in."_s;
}

void TestUpdate::check()
{
    QFETCH(QString, key);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, offered);
    QFETCH(QString, error);
    APIManager::shared().setApiKey(key);
    m_server->route("GET", kAppcastPath, TestHttpServer::json(status, body));
    QSignalSpy announced(&UpdateManager::shared(), &UpdateManager::updateAvailable);

    QString reported;
    const std::optional<UpdateInfo> update = checkNow(&reported);
    QCOMPARE(reported, error);
    QCOMPARE(announced.size(), offered ? 1 : 0);
    QCOMPARE(update.has_value(), offered);
    if (update)
        QCOMPARE(std::pair(update->build, update->version), std::pair(42LL, u"2.0"_s));
    QCOMPARE(m_server->requests().size(), key.isEmpty() ? 0 : 1);
}

void TestUpdate::automaticChecks()
{
    m_server->route("GET", kAppcastPath,
                    TestHttpServer::json(200, release("\"build\":42,\"sha256\":\"a\",\"download_path\":\"/d\"")));
    UpdateManager& manager = UpdateManager::shared();
    QSignalSpy announced(&manager, &UpdateManager::updateAvailable);
    // As after sign-in, sign-out and sign-in again: a check each time, and one timer.
    manager.startAutomaticChecks();
    manager.startAutomaticChecks();
    QTRY_COMPARE(announced.size(), 2);
    QList<QTimer*> timers = manager.findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
    timers.removeIf([](const QTimer* timer) { return !timer->isActive(); });
    QCOMPARE(timers.size(), 1);
}

void TestUpdate::install_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("downloadPath");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("downloads"); // requests after the appcast's

    const QList<Entry> app = appFolder(u"Mirelo.app"_s);
    const QByteArray zip = archiveOf(app);
    QTest::newRow("zip") << zip << kDownloadPath << QString() << 1;
    // Only the top level is searched: the packages put the application there.
    QTest::newRow("zip, application one level down")
        << archiveOf(QList<Entry>{{u"Mirelo-2.0/"_s, {}}} + appFolder(u"Mirelo-2.0/Mirelo.app"_s)) << kDownloadPath
        << u"The downloaded build didn't contain a .app."_s << 1;
    // Only the application is copied out, so a link beside it may lead anywhere.
    QTest::newRow("disk image") << archiveOf(app + QList<Entry>{{u"Applications"_s, {}, u"/usr/share"_s}}, true)
                                << kDownloadPath << QString() << 1;
    QTest::newRow("checksum one character off")
        << zip << QByteArray("/tampered")
        << u"Checksum mismatch — the download may be corrupt or tampered with. Update cancelled."_s << 1;
    QTest::newRow("404") << zip << QByteArray("/gone.zip") << u"Download failed (HTTP 404)."_s << 1;
    QTest::newRow("redirect to another host")
        << zip << QByteArray("/away") << u"The server redirected to another address; the request was not sent there."_s
        << 1;
    // Appended to the server's address, this would carry the API key to another host.
    QTest::newRow("user information") << zip << QByteArray("@evil.example/x.zip") << u"Invalid download URL."_s << 0;

    // Hostile archives: refused whole, nothing written outside the staging folder.
    const auto unsafe = [&](const char* name, const QList<Entry>& extra, bool diskImage = false) {
        QTest::newRow(name) << archiveOf(app + extra, diskImage) << kDownloadPath
                            << (diskImage ? u"Couldn't copy the app out of the disk image."_s
                                          : u"Couldn't unpack the downloaded build."_s)
                            << 1;
    };
    unsafe("absolute path", {{kEscaped, "x"}});
    unsafe("dot-dot", {{u"Mirelo.app/../../../escaped"_s, "x"}});
    unsafe("link climbing out", {{u"Mirelo.app/out"_s, {}, u"../../.."_s}});
    unsafe("climb behind a name", {{u"Mirelo.app/sub/"_s, {}}, {u"Mirelo.app/l"_s, {}, u"sub/../../../../x"_s}});
    unsafe("write through a link", {{u"Mirelo.app/up"_s, {}, u"."_s}, {u"Mirelo.app/up/x"_s, "x"}});
    // 4 MiB of zeros pack into a few kilobytes: far past ten times the archive's size.
    unsafe("too much data", {{u"Mirelo.app/padding"_s, QByteArray(4 << 20, '\0')}});
    unsafe("absolute link", {{u"Mirelo.app/etc"_s, {}, u"/etc"_s}}, true);
    // Copied out alone, the application may not reach the rest of the image.
    unsafe("link out of the application", {{u"Other/"_s, {}}, {u"Mirelo.app/other"_s, {}, u"../Other"_s}}, true);
    unsafe("special file", {{u"Mirelo.app/pipe"_s, {}, {}, S_IFIFO | 0644}}, true);
}

void TestUpdate::install()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, downloadPath);
    QFETCH(QString, error);
    QFETCH(int, downloads);
    m_server->route("GET", "/tampered", TestHttpServer::Response{200, {}, body + 'x'});
    const QByteArray elsewhere = "http://localhost:" + QByteArray::number(m_server->port()) + kDownloadPath;
    m_server->route("GET", "/away", TestHttpServer::Response{302, {{"Location", elsewhere}}, {}});

    QCOMPARE(install(offer(body, downloadPath)), error);
    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 1 + downloads);
    if (downloads)
        QCOMPARE(requests.at(1).headers.value("x-api-key"), "secret-key");
    QVERIFY(!QFileInfo::exists(kEscaped));
    // Handed on: the staging folder holds the unpacked application and nothing else.
    const QStringList left = entries(m_tmp);
    QCOMPARE(left.size(), error.isEmpty() ? 1 : 0);
    QCOMPARE(m_relaunched, error.isEmpty() ? QStringList{QDir(m_tmp).filePath(left.at(0) + u"/extracted/Mirelo.app"_s)}
                                           : QStringList());
    if (error.isEmpty())
        QVERIFY(QFileInfo(m_relaunched.at(0) + u"/run"_s).isExecutable());
}

QString TestUpdate::shown(const UpdateBannerView& banner)
{
    QStringList parts{banner.messageText()};
    if (banner.updateButton()->isVisible())
        parts << u"[%1]"_s.arg(banner.updateButton()->text());
    if (banner.laterButton()->isVisible())
        parts << u"[Later]"_s;
    if (banner.progress()->isVisible())
        parts << banner.percent()->text();
    return parts.join(u' ');
}

void TestUpdate::banner()
{
    // 1000 bytes, held after 424: the banner shows 42%. They are no archive, so the
    // installation then fails after the download.
    TestHttpServer::Response held{200, {}, QByteArray(1000, 'm')};
    held.pauseAfterBodyBytes = 424;
    const UpdateInfo info = offer(held.body).value();
    m_server->route("GET", kDownloadPath, held);

    // The package manager's copy is only told; one outside an installed application folder
    // is refused before any download, in the banner at once, never "Restarting".
    UpdateBannerView banner;
    banner.show();
    UpdateManager::shared().setRunningBundleForTesting(u"/usr/lib/mirelo/Mirelo.app"_s);
    banner.presentUpdate(info);
    QCOMPARE(shown(banner), u"Mirelo 2.0 is available from your package manager. [Later]"_s);
    UpdateManager::shared().setRunningBundleForTesting(QString());
    banner.presentUpdate(info);
    QTest::mouseClick(banner.updateButton(), Qt::LeftButton);
    QCOMPARE(
        shown(banner),
        u"Mirelo can’t update itself because it isn’t running from an installed application folder. [Retry] [Later]"_s);
    QCOMPARE(m_server->requests().size(), 1); // the appcast only

    UpdateBannerView retried;
    retried.show();
    UpdateManager::shared().setRunningBundleForTesting(m_bundle);
    retried.presentUpdate(info);
    QCOMPARE(shown(retried), u"Mirelo 2.0 is available. [Update] [Later]"_s);
    QTest::mouseClick(retried.updateButton(), Qt::LeftButton);
    QTRY_COMPARE(shown(retried), u"Downloading update… 42%"_s);

    m_server->resumePaused();
    QTRY_COMPARE_WITH_TIMEOUT(retried.state(), UpdateBannerView::State::Error, 30000);
    QCOMPARE(shown(retried), u"Couldn't mount the downloaded disk image. [Retry] [Later]"_s);
    QCOMPARE(retried.message()->palette().color(QPalette::WindowText), MRTheme::danger().resolve(retried.palette()));

    // Retried, this time with a real build on the server.
    retried.presentUpdate(offer(archiveOf(appFolder(u"Mirelo.app"_s))).value());
    QTest::mouseClick(retried.updateButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(retried.state(), UpdateBannerView::State::Restarting, 30000);
    QCOMPARE(shown(retried), u"Restarting to finish update…"_s);
    QCOMPARE(m_relaunched.size(), 1);
}

void TestUpdate::installApp(const QString& folder, const QByteArray& build)
{
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(QStringLiteral(MIRELO_TEST_APP), folder + u"/update_testapp"_s));
    QFile file(folder + u"/build.txt"_s);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(build);
}

QProcess* TestUpdate::start(const QString& bundle, const QStringList& arguments, bool asOtherUser)
{
    auto* process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // TMPDIR included
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

void TestUpdate::expectRestarted(QProcess* old, const QStringList& lines)
{
    QVERIFY2(QTest::qWaitFor([&] { return log().size() >= lines.size(); }, 60000), qPrintable(log().join(u" | "_s)));
    QTRY_COMPARE_WITH_TIMEOUT(old->state(), QProcess::NotRunning, 30000);
    QCOMPARE(old->exitCode(), 0);
    QCOMPARE(log(), lines);
    // One application in its place; no copy beside it, no staging folder or script left.
    QCOMPARE(entries(QFileInfo(m_bundle).path()), QStringList{u"Mirelo.app"_s});
    QVERIFY(QFileInfo(m_bundle + u"/update_testapp"_s).isExecutable());
    QCOMPARE(entries(m_tmp), QStringList());
}

QStringList TestUpdate::log() const
{
    QFile file(m_scratch->filePath(u"log"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList TestUpdate::entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void TestUpdate::relaunchEndToEnd()
{
    installApp(m_bundle, "41");
    // Build 42's zip, and the appcast the packaging tool writes for it.
    QFile binary(QStringLiteral(MIRELO_TEST_APP));
    binary.open(QIODevice::ReadOnly);
    const QByteArray zip = archiveOf({{u"Mirelo.app/"_s, {}},
                                      {u"Mirelo.app/update_testapp"_s, binary.readAll(), {}, 0755},
                                      {u"Mirelo.app/build.txt"_s, "42"}});
    QFile zipFile(m_scratch->filePath(u"Mirelo-2.0-42.zip"_s));
    QVERIFY(zipFile.open(QIODevice::WriteOnly));
    zipFile.write(zip);
    zipFile.close();
    QProcess tool;
    tool.start(QStringLiteral(MIRELO_APPCAST_TOOL),
               {u"--version"_s, u"2.0"_s, u"--build"_s, u"42"_s, u"--download-path"_s, QString::fromUtf8(kDownloadPath),
                zipFile.fileName()});
    QVERIFY(tool.waitForFinished() && tool.exitCode() == 0);
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, tool.readAllStandardOutput()));
    m_server->route("GET", kDownloadPath, TestHttpServer::Response{200, {}, zip});

    expectRestarted(start(m_bundle),
                    {u"started 41 "_s + m_bundle, u"staged"_s, u"started 42 "_s + m_bundle, u"up-to-date 42"_s});
}

void TestUpdate::failedCopyKeepsTheOld()
{
    installApp(m_bundle, "41");
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, "{\"release\":null}"));
    // Nothing was staged, so the copy fails: the old application is started again, whole.
    const QString staging = m_tmp + u"/mirelo-update-1"_s;
    QVERIFY(QDir().mkpath(staging + u"/extracted"_s));
    expectRestarted(start(m_bundle, {u"relaunch"_s, staging + u"/extracted/Mirelo.app"_s}),
                    {u"started 41 "_s + m_bundle, u"started 41 "_s + m_bundle, u"up-to-date 41"_s});
}

void TestUpdate::unwritableParent()
{
    // The folder holding the application cannot take the new copy. As root, permission
    // bits stop nobody, so the application then runs as an ordinary user.
    const bool root = ::geteuid() == 0;
    const QString locked = m_scratch->filePath(u"Locked"_s);
    const QString bundle = locked + u"/Mirelo.app"_s;
    installApp(bundle, "41");
    m_server->route("GET", kAppcastPath,
                    TestHttpServer::json(200, release("\"build\":42,\"sha256\":\"ab\",\"download_path\":\"/d\"")));
    if (root)
        QCOMPARE(::chown(QFile::encodeName(bundle).constData(), 65534, 65534), 0);
    QVERIFY(QFile::setPermissions(locked, QFile::Permissions(0x5555)));

    QProcess* app = start(bundle, {}, root);
    QTRY_COMPARE_WITH_TIMEOUT(app->state(), QProcess::NotRunning, 30000);
    QFile::setPermissions(locked, QFile::Permissions(0x7755));
    QCOMPARE(log().value(1),
             u"error The update can’t be installed because the folder %1 can’t be written."_s.arg(locked));
    QCOMPARE(m_server->requests().size(), 1); // the appcast, never the download
    QCOMPARE(entries(m_tmp), QStringList());
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
