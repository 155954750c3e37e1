#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Owner
{
    QString target;
    int rank = 0;
};

// target|rank|path-under-src, one line per source file, as CMake recorded them.
QHash<QString, Owner> readRecord(const QString& path)
{
    QHash<QString, Owner> owners;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return owners;
    while (!file.atEnd()) {
        const QStringList fields = QString::fromUtf8(file.readLine()).trimmed().split(u'|');
        if (fields.size() == 3)
            owners.insert(fields[2], {fields[0], fields[1].toInt()});
    }
    return owners;
}

} // namespace

// Every file under src/ belongs to a layered target, and every project include points to
// the including file's own target or to a lower layer.
class TestLayers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void includesPointDownwards();
};

void TestLayers::includesPointDownwards()
{
    const QString src = QStringLiteral(MIRELO_SOURCE_DIR "/src");
    const QHash<QString, Owner> owners = readRecord(QStringLiteral(MIRELO_LAYER_RECORD));
    QVERIFY2(!owners.isEmpty(), "The build wrote no layer record.");

    static const QRegularExpression include(uR"re(^\s*#\s*include\s*"([^"]+)")re"_s);
    QStringList faults;
    QDirIterator files(src, {u"*.h"_s, u"*.cpp"_s}, QDir::Files, QDirIterator::Subdirectories);
    int checked = 0;
    while (files.hasNext()) {
        const QString relative = QDir(src).relativeFilePath(files.next());
        const auto owner = owners.constFind(relative);
        if (owner == owners.cend()) {
            faults << u"%1: belongs to no target of the build"_s.arg(relative);
            continue;
        }
        QFile file(src + u'/' + relative);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        int line = 0;
        while (!file.atEnd()) {
            ++line;
            const QRegularExpressionMatch match = include.match(QString::fromUtf8(file.readLine()));
            if (!match.hasMatch())
                continue;
            const QString named = match.captured(1);
            if (named.endsWith(u".moc"_s))
                continue;
            ++checked;
            const auto target = owners.constFind(named);
            if (target == owners.cend()) {
                faults << u"%1:%2: includes \"%3\", which is no header of src/ named by its folder"_s.arg(
                    relative, QString::number(line), named);
            } else if (target->target != owner->target && target->rank >= owner->rank) {
                faults << u"%1:%2: includes \"%3\" — %4 (layer %5) may not include %6 (layer %7)"_s.arg(
                    relative, QString::number(line), named, owner->target, QString::number(owner->rank), target->target,
                    QString::number(target->rank));
            }
        }
    }
    QVERIFY2(checked > 100, "Too few includes were found; is the source folder right?");
    if (!faults.isEmpty())
        QFAIL(qPrintable(u"\n"_s + faults.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"
