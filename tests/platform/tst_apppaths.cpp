#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStandardPaths>
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

// Sets the umask for one test and restores the previous one.
class Umask final
{
    Q_DISABLE_COPY_MOVE(Umask)

public:
    explicit Umask(mode_t mask) : m_previous(::umask(mask)) {}
    ~Umask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

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
    void ownerBitsUnderNarrowUmask();
    void appSupportDir();
};

void TestAppPaths::privateFromCreation_data()
{
    // Paths below a scratch folder.
    QTest::addColumn<QString>("existing"); // made beforehand
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QStringList>("created");
    QTest::newRow("one folder") << u""_s << u"Mirelo"_s << QStringList{u"Mirelo"_s};
    QTest::newRow("intermediate folders")
        << u""_s << u"share/data/Mirelo"_s << QStringList{u"share"_s, u"share/data"_s, u"share/data/Mirelo"_s};
    QTest::newRow("some exist") << u"share"_s << u"share/data/Mirelo"_s
                                << QStringList{u"share/data"_s, u"share/data/Mirelo"_s};
    QTest::newRow("all exist") << u"share/Mirelo"_s << u"share/Mirelo"_s << QStringList{};
    QTest::newRow("dots and a trailing slash") << u""_s << u"a/../b/./Mirelo/"_s << QStringList{u"b"_s, u"b/Mirelo"_s};
}

void TestAppPaths::privateFromCreation()
{
    QFETCH(QString, existing);
    QFETCH(QString, wanted);
    QFETCH(QStringList, created);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QDir root(scratch.path());
    if (!existing.isEmpty())
        QVERIFY(root.mkpath(existing));
    const mode_t existingMode = existing.isEmpty() ? 0 : modeOf(root.filePath(existing));

    // With nothing taken away by the umask, a folder made open and narrowed afterwards
    // would be world-writable for a moment: each must be asked for as 0700.
    const Umask open(0);
    {
        QMutexLocker lock(&madeMutex);
        made.clear();
    }
    QVERIFY(AppPaths::makePath(root.filePath(wanted), 0700));
    QVERIFY(QFileInfo(QDir::cleanPath(root.filePath(wanted))).isDir());

    QMutexLocker lock(&madeMutex);
    QStringList asked;
    for (const auto& [path, mode] : made) {
        asked << root.relativeFilePath(path);
        QCOMPARE(mode, mode_t(0700));
        QCOMPARE(modeOf(path), mode_t(0700));
    }
    QCOMPARE(asked, created);
    if (!existing.isEmpty())
        QCOMPARE(modeOf(root.filePath(existing)), existingMode); // left as it was
}

void TestAppPaths::ownerBitsUnderNarrowUmask()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // A umask that takes the owner's write bit would leave a folder nothing can be saved
    // in; the owner gets it back, and nobody else gains anything.
    const Umask narrow(0277);
    const QString target = scratch.filePath(u"a/Mirelo"_s);
    QVERIFY(AppPaths::makePath(target, 0700));
    QCOMPARE(modeOf(target), mode_t(0700));
    QCOMPARE(modeOf(scratch.filePath(u"a"_s)), mode_t(0700));
}

void TestAppPaths::appSupportDir()
{
    const Umask open(0);
    const QString dir = AppPaths::appSupportDir();
    QCOMPARE(dir, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Mirelo"_s);
    QVERIFY(!QFileInfo::exists(dir));
    QVERIFY(AppPaths::ensureAppSupportDir(0700));
    QCOMPARE(modeOf(dir), mode_t(0700));
    QVERIFY(AppPaths::ensureAppSupportDir(0700)); // already there
}

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
