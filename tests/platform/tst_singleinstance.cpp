#include "platform/SingleInstance.h"

#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

// The application itself, signed out and showing its sign-in window offscreen, against
// an instance in this process; both use the runtime folder run-isolated gives the test.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laterStartsRaiseTheFirst();
    void simultaneousStartsOverACrashedOne();
    void holderThatNeverAnswers();
};

void TestSingleInstance::laterStartsRaiseTheFirst()
{
    auto first = std::make_unique<SingleInstance>();
    QCOMPARE(first->claim(), SingleInstance::Claim::Primary);
    // Only other users could reach the socket otherwise; they must not.
    QCOMPARE(QFileInfo(first->socketPath()).permissions() & (QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);
    for (int n = 1; n <= 2; ++n) {
        QProcess again;
        again.setProcessChannelMode(QProcess::ForwardedChannels);
        again.start(QStringLiteral(MIRELO_APP_BINARY), {});
        // This thread must keep answering while the new start asks.
        QTRY_COMPARE_WITH_TIMEOUT(again.state(), QProcess::NotRunning, 20000);
        QCOMPARE(again.exitStatus(), QProcess::NormalExit);
        QCOMPARE(again.exitCode(), 0);
        QTRY_COMPARE(raised.size(), n);
    }

    // A clean exit leaves neither lock nor socket behind.
    const QString lock = first->lockPath();
    const QString socket = first->socketPath();
    first.reset();
    QVERIFY(!QFileInfo::exists(lock));
    QVERIFY(!QFileInfo::exists(socket));
}

void TestSingleInstance::simultaneousStartsOverACrashedOne()
{
    const SingleInstance probe;
    // Each round starts two at once, the later rounds over the leftovers of the one before.
    for (int round = 0; round < 3; ++round) {
        QProcess a;
        QProcess b;
        for (QProcess* start : {&a, &b}) {
            start->setProcessChannelMode(QProcess::ForwardedChannels);
            start->start(QStringLiteral(MIRELO_APP_BINARY), {});
        }
        QTRY_VERIFY_WITH_TIMEOUT(a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning, 20000);
        QProcess& secondary = a.state() == QProcess::NotRunning ? a : b;
        QProcess& primary = &secondary == &a ? b : a;
        QCOMPARE(secondary.exitStatus(), QProcess::NormalExit);
        QCOMPARE(secondary.exitCode(), 0);
        QCOMPARE(primary.state(), QProcess::Running);
        // The one left answers: a start from here finds it running.
        SingleInstance late;
        QCOMPARE(late.claim(), SingleInstance::Claim::AnotherRunning);

        // Killed without a chance to clean up: its lock and socket stay behind.
        primary.kill();
        QVERIFY(primary.waitForFinished());
        QVERIFY(QFileInfo::exists(probe.lockPath()));
        QVERIFY(QFileInfo::exists(probe.socketPath()));
    }
    SingleInstance next;
    QCOMPARE(next.claim(), SingleInstance::Claim::Primary);
}

void TestSingleInstance::holderThatNeverAnswers()
{
    // A live process holds the lock but never listens, as one hanging in its start would.
    QTemporaryDir folder;
    SingleInstance probe(folder.path());
    QLockFile held(probe.lockPath());
    QVERIFY(held.tryLock(0));
    SingleInstance late(folder.path());
    QCOMPARE(late.claim(100), SingleInstance::Claim::Unanswered);
    QVERIFY(!late.isListening());
    // The holder's lock is left alone.
    QVERIFY(held.isLocked());
    QVERIFY(QFileInfo::exists(probe.lockPath()));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
