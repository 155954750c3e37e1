#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Every folder this process asks the system to create, with the mode it asks for.
QMutex madeMutex;
QList<std::pair<QString, mode_t>> made;

mode_t modeOf(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

} // namespace

// Stands in front of the C library's mkdir for this program, Qt's own calls included, to
// see the mode each folder is created with; the folder is still made by the system.
extern "C" int mkdir(const char* path, mode_t mode)
{
    {
        QMutexLocker lock(&madeMutex);
        made.append({QFile::decodeName(path), mode});
    }
    return int(::syscall(SYS_mkdirat, AT_FDCWD, path, mode));
}

class TestAppPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void privateFromCreation_data();
    void privateFromCreation();
};

void TestAppPaths::privateFromCreation_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("existing"); // below a scratch folder, made beforehand; "." for none
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QStringList>("created");
    QTest::newRow("intermediate folders")
        << 0 << u"."_s << u"share/data/Mirelo"_s << QStringList{u"share"_s, u"share/data"_s, u"share/data/Mirelo"_s};
    QTest::newRow("some exist") << 0 << u"share"_s << u"share/data/Mirelo"_s
                                << QStringList{u"share/data"_s, u"share/data/Mirelo"_s};
    QTest::newRow("dots and a trailing slash")
        << 0 << u"."_s << u"a/../b/./Mirelo/"_s << QStringList{u"b"_s, u"b/Mirelo"_s};
    // A umask that takes the owner's write bit would leave a folder nothing can be saved
    // in; the owner gets it back, and nobody else gains anything.
    QTest::newRow("narrow umask") << 0277 << u"."_s << u"a/Mirelo"_s << QStringList{u"a"_s, u"a/Mirelo"_s};
}

void TestAppPaths::privateFromCreation()
{
    QFETCH(int, mask);
    QFETCH(QString, existing);
    QFETCH(QString, wanted);
    QFETCH(QStringList, created);
    QTemporaryDir scratch;
    const QDir root(scratch.path());
    QVERIFY(root.mkpath(existing));
    const mode_t existingMode = modeOf(root.filePath(existing));
    {
        QMutexLocker lock(&madeMutex);
        made.clear();
    }
    // With nothing taken away by the umask, a folder made open and narrowed afterwards
    // would be world-writable for a moment: each must be asked for as 0700.
    const mode_t previous = ::umask(mode_t(mask));
    const bool madeAll = AppPaths::makePath(root.filePath(wanted), 0700);
    ::umask(previous);
    QVERIFY(madeAll);

    QMutexLocker lock(&madeMutex);
    QStringList asked;
    for (const auto& [path, mode] : made) {
        asked << root.relativeFilePath(path);
        QCOMPARE(mode, mode_t(0700));
        QCOMPARE(modeOf(path), mode_t(0700));
    }
    QCOMPARE(asked, created);
    QCOMPARE(modeOf(root.filePath(existing)), existingMode); // left as it was
}

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
