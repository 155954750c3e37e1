#pragma once

#include <QString>
#include <QStringList>
#include <optional>

enum class SqlDialect { PostgreSQL, MySQL };

// The four switches that travel with every prompt, with the client's defaults.
struct GenerationSettings
{
    bool allowDestructive = false;
    bool selfCorrection = true;
    bool dataIsolation = false;
    bool singularResults = false;
};

// The server's answer to one prompt: SQL, or an error category and a sentence for the user.
struct Generation
{
    QString sql;
    QString errorType;
    QString error;
    QString outcome; // a few words for the request log

    bool succeeded() const { return errorType.isEmpty(); }
};

// Turns prompts about the demo shop into SQL without any language model: the four example
// prompts and a handful of plain sentence patterns (list, count, top N, filter by a column
// value, recent rows, and with writes allowed delete, update and insert). Anything else is
// refused with a sentence saying what the server does understand.
//
// The settings mean here: allowDestructive — writes are refused without it; selfCorrection —
// misspelt table and column names are corrected instead of refused; dataIsolation — rows are
// restricted to those of the sample user the server acts for; singularResults — answers read
// one table (no joins). No answer ever uses UNION.
class PromptMatcher final
{
public:
    // isolationUserId: the users.id whose data a data-isolated answer may show.
    explicit PromptMatcher(SqlDialect dialect, qint64 isolationUserId = 1);

    Generation generate(const QString& prompt, const GenerationSettings& settings) const;

    // The four prompts the application offers as examples, in its order.
    static QStringList examplePrompts();
    // "postgresql" or "mysql"; nullopt for anything else.
    static std::optional<SqlDialect> dialectNamed(const QString& name);

private:
    SqlDialect m_dialect;
    qint64 m_isolationUserId;
};
