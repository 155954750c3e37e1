#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// A copy of the sample shop of its own for one test run, in the PostgreSQL or MariaDB test
// server that scripts/lib/dbservers.sh started, read and changed through the servers' own
// command-line clients (psql, mariadb), never through Mirelo's code. Dropped when it goes.
class SampleShop final
{
    Q_DISABLE_COPY_MOVE(SampleShop)

public:
    // dialect: "postgresql" or "mysql", as the demo server names them.
    explicit SampleShop(const QString& dialect);
    ~SampleShop();

    // The MIRELO_TEST_* variables of this server, or the sentence that says which are missing.
    QString missing() const;
    // Makes the database and loads the sample data into it. Empty on success.
    QString create(const QString& name);

    QString type() const { return m_dialect; }
    QString typeTitle() const;
    QString host() const { return variable("HOST"); }
    QString port() const { return variable("PORT"); }
    QString user() const { return variable("USER"); }
    QString password() const { return variable("PASSWORD"); }
    QString database() const { return m_database; }

    // The statement's rows as CSV, by the client: psql --csv as it is; for MariaDB, whose
    // client writes no CSV, mariadb --batch turned into it by the common rule (a field that
    // holds a comma, a double quote, a line feed or a carriage return is quoted, its quotes
    // doubled; NULL is an empty field). nullopt with error set on failure.
    std::optional<QByteArray> csv(const QString& sql, QString* error) const;
    // The first value of the statement's first row.
    std::optional<QString> value(const QString& sql, QString* error) const;

private:
    QString variable(const char* name) const;
    std::optional<QByteArray> run(const QString& database, const QStringList& arguments, const QString& inputFile,
                                  QString* error) const;
    bool isPostgreSQL() const { return m_dialect == QLatin1String("postgresql"); }

    QString m_dialect;
    QString m_database;
};
