#include "platform/SingleInstance.h"

#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// One start of the stand-in program, and what it has said so far.
class Start
{
public:
    explicit Start(const QString& folder)
    {
        m_process.setProgram(QStringLiteral(MIRELO_SINGLEINSTANCE_HELPER));
        m_process.setArguments({folder});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~Start()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    Start(const Start&) = delete;
    Start& operator=(const Start&) = delete;

    // The lines written so far.
    QStringList lines()
    {
        m_output += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Waits for the first line: what the start became.
    QString role()
    {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!lines().isEmpty() || m_process.state() == QProcess::NotRunning, 20000); }();
        const QStringList said = lines();
        return said.isEmpty() ? QString() : said.constFirst();
    }
    bool finish()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(20000))
            return false;
        return m_process.exitStatus() == QProcess::NormalExit;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void handOffBetweenProcesses();
    void simultaneousStarts();
    void holderThatNeverAnswers();
    void secondStartOfTheApplication();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestSingleInstance::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestSingleInstance::handOffBetweenProcesses()
{
    Start first(m_folder->path());
    QCOMPARE(first.role(), u"primary"_s);
    SingleInstance probe(m_folder->path());
    // Only other users could reach the socket otherwise; they must not.
    QCOMPARE(QFileInfo(probe.socketPath()).permissions() & (QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    for (int n = 1; n <= 2; ++n) {
        Start again(m_folder->path());
        QCOMPARE(again.role(), u"secondary"_s);
        QVERIFY(again.finish());
        QCOMPARE(again.process().exitCode(), 0);
        QTRY_COMPARE(first.lines().count(u"raised"_s), n);
    }

    // A clean exit leaves neither lock nor socket behind, and the next start is the first again.
    first.process().write("quit\n");
    QVERIFY(first.finish());
    QCOMPARE(first.process().exitCode(), 0);
    QVERIFY(!QFileInfo::exists(probe.lockPath()));
    QVERIFY(!QFileInfo::exists(probe.socketPath()));
    Start next(m_folder->path());
    QCOMPARE(next.role(), u"primary"_s);
}

void TestSingleInstance::simultaneousStarts()
{
    SingleInstance probe(m_folder->path());
    // Each round starts two at once, alternately on a clean folder and over a crashed
    // instance's leftovers.
    for (int round = 0; round < 6; ++round) {
        if (round % 2) {
            Start crashed(m_folder->path());
            QCOMPARE(crashed.role(), u"primary"_s);
            crashed.process().kill();
            QVERIFY(crashed.process().waitForFinished());
            // Killed without a chance to clean up: its lock and socket are still there.
            QVERIFY(QFileInfo::exists(probe.lockPath()));
            QVERIFY(QFileInfo::exists(probe.socketPath()));
        }
        Start a(m_folder->path());
        Start b(m_folder->path());
        const QStringList roles{a.role(), b.role()};
        QCOMPARE(roles.count(u"primary"_s), 1);
        QCOMPARE(roles.count(u"secondary"_s), 1);
        Start& primary = roles.constFirst() == u"primary"_s ? a : b;
        Start& secondary = roles.constFirst() == u"primary"_s ? b : a;
        QVERIFY(secondary.finish());
        QCOMPARE(secondary.process().exitCode(), 0);
        QTRY_COMPARE(primary.lines().count(u"raised"_s), 1);
        primary.process().write("quit\n");
        QVERIFY(primary.finish());
        QVERIFY(!QFileInfo::exists(probe.lockPath()));
    }
}

void TestSingleInstance::holderThatNeverAnswers()
{
    // A live process holds the lock but never listens, as one hanging in its start would.
    SingleInstance probe(m_folder->path());
    QLockFile held(probe.lockPath());
    QVERIFY(held.tryLock(0));
    SingleInstance late(m_folder->path());
    QCOMPARE(late.claim(100), SingleInstance::Claim::Unanswered);
    QVERIFY(!late.isListening());
    // The holder's lock is left alone.
    QVERIFY(held.isLocked());
    QVERIFY(QFileInfo::exists(probe.lockPath()));
}

void TestSingleInstance::secondStartOfTheApplication()
{
    // The application itself, signed out, showing its sign-in window offscreen.
    const SingleInstance probe(SingleInstance::runtimeFolder());
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(MIRELO_APP_BINARY), {});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(probe.socketPath()) || first.state() == QProcess::NotRunning, 20000);
    QCOMPARE(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(QStringLiteral(MIRELO_APP_BINARY), {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(20000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
