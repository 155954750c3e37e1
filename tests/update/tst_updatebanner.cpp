#include "TestArchive.h"
#include "server/APIManager.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "ui/MRTheme.h"
#include "update/UpdateBannerView.h"
#include "update/UpdateManager.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kDownloadPath = "/downloads/Mirelo-42.zip";

UpdateInfo offerFor(const QByteArray& body, const std::optional<QString>& notes = {})
{
    UpdateInfo info;
    info.version = u"2.0"_s;
    info.build = 42;
    info.notes = notes;
    info.sha256 = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
    info.downloadPath = QString::fromUtf8(kDownloadPath);
    return info;
}

QColor textColor(const MRLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

} // namespace

class TestUpdateBanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void offer_data();
    void offer();
    void laterDismisses();
    void downloadProgressThenErrorThenRetry();
    void earlyFailureShowsAtOnce();
    void packageManager();
    void longErrorIsCutShort();
    void layout();
    void recoloursWithAppearance();

private:
    void serve(const TestHttpServer::Response& response);

    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<UpdateBannerView> m_banner;
    QStringList m_relaunched;
};

void TestUpdateBanner::init()
{
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    qputenv("TMPDIR", QFile::encodeName(m_scratch->path()));
    const QString bundle = m_scratch->filePath(u"Apps/Mirelo.app"_s);
    QVERIFY(QDir().mkpath(bundle));
    m_server = std::make_unique<TestHttpServer>();
    APIManager::shared().setServerURL(m_server->baseUrl());
    APIManager::shared().setApiKey(u"secret-key"_s);
    m_relaunched.clear();
    UpdateManager::shared().setRunningBundleForTesting(bundle);
    UpdateManager::shared().setRelaunchForTesting([this](const QString& app) { m_relaunched.append(app); });

    m_banner = std::make_unique<UpdateBannerView>();
    m_banner->resize(760, 52);
    m_banner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_banner.get()));
}

void TestUpdateBanner::cleanup()
{
    m_banner.reset();
    m_server.reset();
    qunsetenv("TMPDIR");
    m_scratch.reset();
}

void TestUpdateBanner::serve(const TestHttpServer::Response& response)
{
    m_server->route("GET", kDownloadPath, response);
}

void TestUpdateBanner::offer_data()
{
    QTest::addColumn<std::optional<QString>>("notes");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("notes") << std::optional<QString>(u"Faster exports."_s) << u"Faster exports."_s;
    QTest::newRow("empty notes") << std::optional<QString>(QString()) << QString();
    QTest::newRow("no notes") << std::optional<QString>() << QString();
}

void TestUpdateBanner::offer()
{
    QFETCH(std::optional<QString>, notes);
    QFETCH(QString, toolTip);
    m_banner->message()->setToolTip(u"stale"_s);
    m_banner->presentUpdate(offerFor("x", notes));

    QCOMPARE(m_banner->state(), UpdateBannerView::State::Offer);
    QCOMPARE(m_banner->messageText(), u"Mirelo 2.0 is available."_s);
    QCOMPARE(m_banner->message()->text(), u"Mirelo 2.0 is available."_s);
    QCOMPARE(m_banner->message()->toolTip(), toolTip);
    QCOMPARE(textColor(m_banner->message()), MRTheme::textPrimary().resolve(m_banner->palette()));
    QVERIFY(m_banner->updateButton()->isVisible());
    QCOMPARE(m_banner->updateButton()->text(), u"Update"_s);
    QVERIFY(m_banner->laterButton()->isVisible());
    QVERIFY(!m_banner->progress()->isVisible());
    QVERIFY(!m_banner->percent()->isVisible());
}

void TestUpdateBanner::laterDismisses()
{
    m_banner->presentUpdate(offerFor("x"));
    QSignalSpy dismissed(m_banner.get(), &UpdateBannerView::dismissed);
    QTest::mouseClick(m_banner->laterButton(), Qt::LeftButton);
    QCOMPARE(dismissed.size(), 1);
    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(m_banner->state(), UpdateBannerView::State::Offer);
}

void TestUpdateBanner::downloadProgressThenErrorThenRetry()
{
    // 1000 bytes, held after 424: the banner shows 42 %. They are no archive, so the
    // installation then fails after the download.
    TestHttpServer::Response held;
    held.body = QByteArray(1000, 'm');
    held.pauseAfterBodyBytes = 424;
    serve(held);
    m_banner->presentUpdate(offerFor(held.body));

    QTest::mouseClick(m_banner->updateButton(), Qt::LeftButton);
    QCOMPARE(m_banner->state(), UpdateBannerView::State::Downloading);
    QCOMPARE(m_banner->messageText(), u"Downloading update…"_s);
    QVERIFY(!m_banner->updateButton()->isVisible());
    QVERIFY(!m_banner->laterButton()->isVisible());
    QVERIFY(m_banner->progress()->isVisible());
    QVERIFY(m_banner->percent()->isVisible());
    QTRY_COMPARE(m_banner->percent()->text(), u"42%"_s);
    QCOMPARE(double(m_banner->progress()->value()) / m_banner->progress()->maximum(), 0.424);

    m_server->resumePaused();
    QTRY_COMPARE_WITH_TIMEOUT(m_banner->state(), UpdateBannerView::State::Error, 30000);
    const QString error = u"Couldn't mount the downloaded disk image."_s;
    QCOMPARE(m_banner->messageText(), error);
    QCOMPARE(m_banner->message()->toolTip(), error);
    QCOMPARE(textColor(m_banner->message()), MRTheme::danger().resolve(m_banner->palette()));
    QCOMPARE(m_banner->updateButton()->text(), u"Retry"_s);
    QVERIFY(m_banner->updateButton()->isVisible());
    QVERIFY(m_banner->updateButton()->isEnabled());
    QVERIFY(m_banner->laterButton()->isVisible());
    QVERIFY(!m_banner->progress()->isVisible());

    // Retry downloads the same offer again; this time the server has a real build.
    const QByteArray zip = TestArchive::zip(TestArchive::appFolder(u"Mirelo.app"_s));
    serve(TestHttpServer::Response{200, {}, zip});
    m_banner->presentUpdate(offerFor(zip));
    QCOMPARE(m_banner->updateButton()->text(), u"Retry"_s); // for the life of the banner
    QTest::mouseClick(m_banner->updateButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_banner->state(), UpdateBannerView::State::Restarting, 30000);
    QCOMPARE(m_banner->percent()->text(), u"100%"_s);
    QCOMPARE(m_banner->messageText(), u"Restarting to finish update…"_s);
    QCOMPARE(textColor(m_banner->message()), MRTheme::textPrimary().resolve(m_banner->palette()));
    QVERIFY(!m_banner->progress()->isVisible());
    QVERIFY(!m_banner->percent()->isVisible());
    QVERIFY(!m_banner->updateButton()->isVisible());
    QVERIFY(!m_banner->laterButton()->isVisible());
    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(m_relaunched.size(), 1);
}

void TestUpdateBanner::earlyFailureShowsAtOnce()
{
    // Not installed in an application folder: said in the banner, never "Restarting".
    UpdateManager::shared().setRunningBundleForTesting(QString());
    m_banner->presentUpdate(offerFor("x"));
    QTest::mouseClick(m_banner->updateButton(), Qt::LeftButton);
    QCOMPARE(m_banner->state(), UpdateBannerView::State::Error);
    QCOMPARE(m_banner->messageText(),
             u"Mirelo can’t update itself because it isn’t running from an installed application folder."_s);
    QVERIFY(m_relaunched.isEmpty());
}

void TestUpdateBanner::packageManager()
{
    UpdateManager::shared().setRunningBundleForTesting(u"/usr/lib/mirelo/Mirelo.app"_s);
    m_banner->presentUpdate(offerFor("x"));
    QCOMPARE(m_banner->state(), UpdateBannerView::State::PackageManagerOffer);
    QCOMPARE(m_banner->messageText(), u"Mirelo 2.0 is available from your package manager."_s);
    QVERIFY(!m_banner->updateButton()->isVisible());
    QVERIFY(m_banner->laterButton()->isVisible());
    QCOMPARE(m_banner->laterButton()->geometry().right() + 1, m_banner->width() - 14);
}

void TestUpdateBanner::longErrorIsCutShort()
{
    m_banner->presentUpdate(offerFor("x"));
    const QString error = u"The server redirected to another address; the request was not sent there. "_s.repeated(3);
    m_banner->showError(error);
    QVERIFY(m_banner->message()->text().endsWith(u'…'));
    QVERIFY(m_banner->message()->text().size() < error.size());
    QCOMPARE(m_banner->message()->toolTip(), error);
    QVERIFY(m_banner->message()->geometry().right() < m_banner->laterButton()->geometry().left());
}

void TestUpdateBanner::layout()
{
    m_banner->presentUpdate(offerFor("x"));
    const int w = m_banner->width();
    const auto centredVertically = [this](const QWidget* part) {
        return qAbs(part->geometry().center().y() - m_banner->rect().center().y()) <= 1;
    };
    const QRect update = m_banner->updateButton()->geometry();
    const QRect later = m_banner->laterButton()->geometry();
    QCOMPARE(update.right() + 1, w - 14);
    QCOMPARE(later.right() + 1, update.left() - 8);
    QCOMPARE(update.height(), 32);
    QCOMPARE(m_banner->message()->geometry().left(), 16 + 15 + 9);
    QVERIFY(m_banner->message()->geometry().right() < later.left());

    m_banner->setBusyMessage(u"Downloading update…"_s);
    const QRect bar = m_banner->progress()->geometry();
    QCOMPARE(bar.right() + 1, w - 16);
    QCOMPARE(bar.width(), 170);
    QCOMPARE(m_banner->percent()->geometry().right() + 1, bar.left() - 8);
    QCOMPARE(m_banner->percent()->font().family(), MRTheme::monoFont(11.5).family());
    for (const QWidget* part :
         {static_cast<QWidget*>(m_banner->message()), static_cast<QWidget*>(m_banner->progress()),
          static_cast<QWidget*>(m_banner->percent()), static_cast<QWidget*>(m_banner->updateButton())})
        QVERIFY(centredVertically(part));
}

void TestUpdateBanner::recoloursWithAppearance()
{
    m_banner->presentUpdate(offerFor("x"));
    const auto sample = [this] {
        const QImage image = m_banner->grab().toImage();
        return std::pair{image.pixelColor(4, 4), image.pixelColor(4, image.height() - 1)};
    };
    m_banner->setPalette(MRTheme::palette(false));
    const auto [lightFill, lightLine] = sample();
    m_banner->setPalette(MRTheme::palette(true));
    const auto [darkFill, darkLine] = sample();
    QVERIFY(lightFill != darkFill);
    QVERIFY(lightLine != darkLine);
    QVERIFY(lightLine != lightFill);
    QVERIFY(darkLine != darkFill);
    QCOMPARE(textColor(m_banner->message()), MRTheme::textPrimary().dark());
}

QTEST_MAIN(TestUpdateBanner)
#include "tst_updatebanner.moc"
