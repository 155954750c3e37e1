#include "SampleShop.h"

#include <QProcess>

using namespace Qt::StringLiterals;

namespace {

// One field of mariadb --batch output as it was: the client writes \0, \b, \n, \r, \t and
// \\ for the characters themselves.
QByteArray unescapeBatchField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) != '\\' || i + 1 == field.size()) {
            out.append(field.at(i));
            continue;
        }
        const char next = field.at(++i);
        switch (next) {
        case '0':
            out.append('\0');
            break;
        case 'b':
            out.append('\b');
            break;
        case 'n':
            out.append('\n');
            break;
        case 'r':
            out.append('\r');
            break;
        case 't':
            out.append('\t');
            break;
        default:
            out.append(next);
        }
    }
    return out;
}

QByteArray csvField(const QByteArray& field)
{
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    QByteArray quoted = field;
    quoted.replace("\"", "\"\"");
    return '"' + quoted + '"';
}

} // namespace

SampleShop::SampleShop(const QString& dialect) : m_dialect(dialect) {}

SampleShop::~SampleShop()
{
    if (m_database.isEmpty())
        return;
    QString ignored;
    if (isPostgreSQL())
        run(variable("DATABASE"), {u"-c"_s, u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_database)}, {},
            &ignored);
    else
        run(variable("DATABASE"), {u"-e"_s, u"DROP DATABASE IF EXISTS "_s + m_database}, {}, &ignored);
}

QString SampleShop::variable(const char* name) const
{
    const QString prefix = isPostgreSQL() ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1().constData());
}

QString SampleShop::typeTitle() const
{
    return isPostgreSQL() ? u"PostgreSQL"_s : u"MySQL"_s;
}

QString SampleShop::missing() const
{
    for (const char* name : {"HOST", "PORT", "USER", "PASSWORD", "DATABASE"}) {
        if (variable(name).isEmpty()) {
            return u"The %1 test server's variables (MIRELO_TEST_%2_*) are missing."_s.arg(
                typeTitle(), isPostgreSQL() ? u"PG"_s : u"MYSQL"_s);
        }
    }
    return {};
}

std::optional<QByteArray> SampleShop::run(const QString& database, const QStringList& arguments,
                                          const QString& inputFile, QString* error) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList all;
    QString program;
    if (isPostgreSQL()) {
        program = u"psql"_s;
        env.insert(u"PGPASSWORD"_s, password());
        // The client's own settings do not change what it prints.
        for (const QString& name : {u"PGOPTIONS"_s, u"PGTZ"_s, u"PGDATESTYLE"_s, u"PGCLIENTENCODING"_s})
            env.remove(name);
        all = {u"-X"_s, u"-q"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-h"_s, host(), u"-p"_s, port(), u"-U"_s,
               user(),  u"-d"_s, database};
    } else {
        program = u"mariadb"_s;
        env.insert(u"MYSQL_PWD"_s, password());
        all = {u"--no-defaults"_s, u"-h"_s, host(), u"-P"_s, port(), u"-u"_s, user(), u"--batch"_s, database};
    }
    tool.setProcessEnvironment(env);
    if (!inputFile.isEmpty())
        tool.setStandardInputFile(inputFile);
    tool.start(program, all + arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        *error = u"%1 %2 failed: %3"_s.arg(program, arguments.join(QLatin1Char(' ')),
                                           QString::fromLocal8Bit(tool.readAllStandardError()).trimmed());
        return std::nullopt;
    }
    return tool.readAllStandardOutput();
}

QString SampleShop::create(const QString& name)
{
    QString error;
    const QString make =
        isPostgreSQL() ? u"CREATE DATABASE "_s + name : u"CREATE DATABASE %1 CHARACTER SET utf8mb4"_s.arg(name);
    if (!run(variable("DATABASE"), {isPostgreSQL() ? u"-c"_s : u"-e"_s, make}, {}, &error))
        return error;
    m_database = name;
    const QString sample =
        QStringLiteral(MIRELO_SAMPLE_DIR) + (isPostgreSQL() ? u"/postgresql.sql"_s : u"/mysql.sql"_s);
    if (!run(m_database, isPostgreSQL() ? QStringList{u"-f"_s, sample} : QStringList{},
             isPostgreSQL() ? QString() : sample, &error))
        return error;
    return {};
}

std::optional<QByteArray> SampleShop::csv(const QString& sql, QString* error) const
{
    if (isPostgreSQL())
        return run(m_database, {u"--csv"_s, u"-c"_s, sql}, {}, error);
    const std::optional<QByteArray> batch = run(m_database, {u"-e"_s, sql}, {}, error);
    if (!batch)
        return std::nullopt;
    QByteArray out;
    const QList<QByteArray> lines = batch->split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == lines.size() - 1 && lines.at(i).isEmpty())
            break;
        QList<QByteArray> fields = lines.at(i).split('\t');
        for (QByteArray& field : fields) {
            // The header is never NULL; a value shown as NULL is one.
            field = (i > 0 && field == "NULL") ? QByteArray() : csvField(unescapeBatchField(field));
        }
        out += fields.join(',') + '\n';
    }
    return out;
}

std::optional<QString> SampleShop::value(const QString& sql, QString* error) const
{
    const std::optional<QByteArray> output = isPostgreSQL()
                                                 ? run(m_database, {u"-t"_s, u"-A"_s, u"-c"_s, sql}, {}, error)
                                                 : run(m_database, {u"-N"_s, u"-e"_s, sql}, {}, error);
    if (!output)
        return std::nullopt;
    return QString::fromUtf8(output->split('\n').value(0).split('\t').value(0)).trimmed();
}
