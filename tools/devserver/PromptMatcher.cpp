#include "PromptMatcher.h"

#include "SampleSchema.h"

#include <QRegularExpression>
#include <algorithm>

using SampleSchema::Column;
using SampleSchema::ColumnKind;
using SampleSchema::Table;

namespace {

const auto kInvalidRequest = QStringLiteral("invalid_request");
const auto kDestructiveNotAllowed = QStringLiteral("destructive_not_allowed");
const auto kUnsupportedPrompt = QStringLiteral("unsupported_prompt");
const auto kUnknownTable = QStringLiteral("unknown_table");
const auto kUnknownColumn = QStringLiteral("unknown_column");
const auto kInvalidValue = QStringLiteral("invalid_value");

constexpr qint64 kMaxRows = 100000;

// A table name as a prompt may write it: one word, or "order items".
const QString kTable = QStringLiteral(R"((?<table>[\p{L}_][\p{L}_]*(?:[ _]items?)?))");
const QString kVerb = QStringLiteral(R"((?:(?:show|list|get|display|give|find|select|fetch)\s+)?(?:me\s+)?)");
const QString kFilter = QStringLiteral(R"((?:\s+(?<conj>where|with|whose|in|from)\s+(?<cond>.+))?)");

QRegularExpression pattern(const QString& text)
{
    return QRegularExpression(QLatin1Char('^') + text + QLatin1Char('$'),
                              QRegularExpression::CaseInsensitiveOption |
                                  QRegularExpression::UseUnicodePropertiesOption);
}

Generation failure(const QString& type, const QString& sentence, const QString& outcome)
{
    return Generation{{}, type, sentence, outcome};
}

// Lower case, words joined by underscores: "Order Items" → "order_items".
QString identifierForm(const QString& words)
{
    return words.simplified()
        .toLower()
        .replace(QLatin1Char(' '), QLatin1Char('_'))
        .replace(QLatin1Char('-'), QLatin1Char('_'));
}

int editDistance(const QString& a, const QString& b)
{
    QList<int> previous(b.size() + 1);
    QList<int> current(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int substitution = previous[j - 1] + (a.at(i - 1) == b.at(j - 1) ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// Short names tolerate one wrong letter, longer ones two.
int tolerance(const QString& word)
{
    return word.size() >= 5 ? 2 : 1;
}

// The closest spelling within tolerance, when exactly one name is closest.
std::optional<QString> closest(const QString& word, const QList<std::pair<QString, QString>>& spellings)
{
    int best = tolerance(word) + 1;
    QString found;
    bool ambiguous = false;
    for (const auto& [spelling, name] : spellings) {
        const int distance = editDistance(word, spelling);
        if (distance < best) {
            best = distance;
            found = name;
            ambiguous = false;
        } else if (distance == best && name != found) {
            ambiguous = true;
        }
    }
    if (found.isEmpty() || ambiguous)
        return std::nullopt;
    return found;
}

// Splits at commas and at the word "and", but not inside quotes.
QStringList splitList(const QString& text)
{
    QStringList parts;
    QString current;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            current += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            current += c;
            continue;
        }
        if (c == QLatin1Char(',')) {
            parts << current.trimmed();
            current.clear();
            continue;
        }
        if (c.isSpace() && text.mid(i + 1, 4).compare(QLatin1String("and "), Qt::CaseInsensitive) == 0) {
            parts << current.trimmed();
            current.clear();
            i += 4;
            continue;
        }
        current += c;
    }
    parts << current.trimmed();
    parts.removeAll(QString());
    return parts;
}

struct Value
{
    QString text;
    bool quoted = false; // written in quotes: always a text, never NULL
};

Value unquote(const QString& raw)
{
    const QString text = raw.trimmed();
    static const QList<std::pair<QChar, QChar>> pairs{{u'\'', u'\''}, {u'"', u'"'}, {u'“', u'”'}, {u'‘', u'’'}};
    for (const auto& [open, close] : pairs) {
        if (text.size() >= 2 && text.front() == open && text.back() == close)
            return {text.mid(1, text.size() - 2), true};
    }
    return {text, false};
}

enum class Operator { Equal, NotEqual, Greater, Less, GreaterOrEqual, LessOrEqual };

std::optional<Operator> operatorNamed(const QString& words)
{
    const QString w = words.simplified().toLower();
    static const QList<std::pair<QStringList, Operator>> names{
        {{QStringLiteral("is"), QStringLiteral("="), QStringLiteral("equals"), QStringLiteral("is equal to")},
         Operator::Equal},
        {{QStringLiteral("is not"), QStringLiteral("isn't"), QStringLiteral("!="), QStringLiteral("<>")},
         Operator::NotEqual},
        {{QStringLiteral(">"), QStringLiteral("over"), QStringLiteral("above"), QStringLiteral("greater than"),
          QStringLiteral("more than"), QStringLiteral("is over"), QStringLiteral("is above"),
          QStringLiteral("is greater than"), QStringLiteral("is more than"), QStringLiteral("after"),
          QStringLiteral("is after")},
         Operator::Greater},
        {{QStringLiteral("<"), QStringLiteral("under"), QStringLiteral("below"), QStringLiteral("less than"),
          QStringLiteral("is under"), QStringLiteral("is below"), QStringLiteral("is less than"),
          QStringLiteral("before"), QStringLiteral("is before")},
         Operator::Less},
        {{QStringLiteral(">="), QStringLiteral("at least"), QStringLiteral("is at least")}, Operator::GreaterOrEqual},
        {{QStringLiteral("<="), QStringLiteral("at most"), QStringLiteral("is at most")}, Operator::LessOrEqual},
    };
    for (const auto& [spellings, op] : names) {
        if (spellings.contains(w))
            return op;
    }
    return std::nullopt;
}

QString operatorSql(Operator op)
{
    switch (op) {
    case Operator::Equal:
        return QStringLiteral("=");
    case Operator::NotEqual:
        return QStringLiteral("<>");
    case Operator::Greater:
        return QStringLiteral(">");
    case Operator::Less:
        return QStringLiteral("<");
    case Operator::GreaterOrEqual:
        return QStringLiteral(">=");
    case Operator::LessOrEqual:
        return QStringLiteral("<=");
    }
    return {};
}

// Builds the answer to one prompt; the first refusal recorded wins.
class Composer final
{
public:
    Composer(SqlDialect dialect, qint64 userId, const GenerationSettings& settings)
        : m_dialect(dialect), m_userId(userId), m_settings(settings)
    {}

    Generation compose(const QString& prompt);

private:
    using Rule = std::optional<Generation> (Composer::*)(const QRegularExpressionMatch&);

    std::optional<Generation> schemaChange(const QRegularExpressionMatch& m);
    std::optional<Generation> deleteRows(const QRegularExpressionMatch& m);
    std::optional<Generation> updateRows(const QRegularExpressionMatch& m);
    std::optional<Generation> insertRow(const QRegularExpressionMatch& m);
    std::optional<Generation> recentRows(const QRegularExpressionMatch& m);
    std::optional<Generation> countInPeriod(const QRegularExpressionMatch& m);
    std::optional<Generation> topByRevenue(const QRegularExpressionMatch& m);
    std::optional<Generation> withoutRecentOrders(const QRegularExpressionMatch& m);
    std::optional<Generation> countRows(const QRegularExpressionMatch& m);
    std::optional<Generation> topRows(const QRegularExpressionMatch& m);
    std::optional<Generation> listRows(const QRegularExpressionMatch& m);

    // Each helper returns nullopt after recording a refusal.
    const Table* resolveTable(const QString& words);
    const Column* resolveColumn(const Table& table, const QString& words);
    std::optional<qint64> rowCount(const QString& digits);
    std::optional<QString> literal(const Column& column, const Value& value);
    std::optional<QString> predicate(const Table& table, const QString& qualifier, const QString& conjunction,
                                     const QString& condition);
    std::optional<QString> comparison(const QString& qualifier, const Column& column, Operator op, const Value& value);
    // "col value" or "col is value": the longest leading words that name a column.
    std::optional<std::pair<const Column*, QString>> columnAndRest(const Table& table, const QString& text);
    // The WHERE clause for the filter and data isolation; empty when neither applies.
    std::optional<QString> whereClause(const Table& table, const QString& qualifier, const QRegularExpressionMatch& m);

    QString isolation(const QString& table, const QString& qualifier) const;
    QString stringLiteral(const QString& text) const;
    QString daysAgo(qint64 days) const;
    QString periodStart(const QString& period) const;
    Generation answer(const QStringList& clauses, const QString& outcome) const;
    void refuse(const QString& type, const QString& sentence, const QString& outcome)
    {
        if (!m_refusal)
            m_refusal = failure(type, sentence, outcome);
    }

    SqlDialect m_dialect;
    qint64 m_userId;
    GenerationSettings m_settings;
    QStringList m_corrections;
    std::optional<Generation> m_refusal;
};

Generation Composer::compose(const QString& prompt)
{
    static const QString destructiveVerbs =
        QStringLiteral("delete|remove|erase|drop|truncate|alter|update|change|set|insert|add|create");
    static const QRegularExpression destructive = pattern(QStringLiteral("(?:%1)\\b.*").arg(destructiveVerbs));
    if (destructive.match(prompt).hasMatch() && !m_settings.allowDestructive) {
        return failure(kDestructiveNotAllowed,
                       QStringLiteral("This prompt asks to change the database, and destructive commands are turned "
                                      "off. Turn on “Writes” to let the server write INSERT, UPDATE and DELETE "
                                      "statements."),
                       QStringLiteral("refused: writes are off"));
    }

    static const QList<std::pair<QRegularExpression, Rule>> rules{
        {pattern(QStringLiteral(R"((?:drop|truncate|alter|create\s+(?:table|index|view|database|schema))\b.*)")),
         &Composer::schemaChange},
        {pattern(QStringLiteral(R"((?:delete|remove|erase)\s+(?:all\s+)?(?:(?:of\s+)?the\s+)?)"
                                R"((?:rows\s+(?:from|in|of)\s+)?(?:from\s+)?)") +
                 kTable + kFilter),
         &Composer::deleteRows},
        {pattern(QStringLiteral(R"((?:update|change)\s+(?:all\s+)?(?:the\s+)?)") + kTable +
                 QStringLiteral(R"(\s+(?:set|setting)\s+(?<column>.+?)\s+(?:to|=)\s+(?<value>.+?))") +
                 QStringLiteral(R"((?:\s+(?<conj>where|with|whose|in|from)\s+(?<cond>.+))?)")),
         &Composer::updateRows},
        {pattern(QStringLiteral(R"(set\s+(?:the\s+)?(?<column>.+?)\s+(?:of|for|on|in)\s+(?:all\s+)?(?:the\s+)?)") +
                 kTable + QStringLiteral(R"(\s+to\s+(?<value>.+?))") +
                 QStringLiteral(R"((?:\s+(?<conj>where|with|whose)\s+(?<cond>.+))?)")),
         &Composer::updateRows},
        {pattern(QStringLiteral(R"((?:insert|add|create)\s+(?:into\s+)?(?:a\s+new\s+|a\s+|an\s+|one\s+|new\s+)?)") +
                 kTable + QStringLiteral(R"(\s+(?:with|having|where|values)\s+(?<values>.+))")),
         &Composer::insertRow},
        {pattern(kVerb +
                 QStringLiteral(R"((?:the\s+)?(?:(?<n>\d+)\s+)?(?:most\s+recent|latest|newest|last|recent)\s+)"
                                R"((?:(?<count>\d+)\s+)?)") +
                 kTable + kFilter),
         &Composer::recentRows},
        {pattern(QStringLiteral(R"((?:count|how\s+many)\s+(?:the\s+)?)") + kTable +
                 QStringLiteral(R"(\s+(?:who\s+|that\s+|which\s+)?(?:have\s+|were\s+|was\s+|got\s+)?)"
                                R"((?:signed\s+up|joined|registered|created|added|placed|ordered|made))"
                                R"(\s+(?<period>today|this\s+week|this\s+month|this\s+year|)"
                                R"((?:in\s+)?the\s+(?:last|past)\s+(?<days>\d+)\s+days))")),
         &Composer::countInPeriod},
        {pattern(kVerb + QStringLiteral(R"((?:the\s+)?top\s+(?<n>\d+)\s+)") + kTable +
                 QStringLiteral(R"(\s+by\s+(?:total\s+)?(?:revenue|sales|spend|spending))")),
         &Composer::topByRevenue},
        {pattern(kVerb + QStringLiteral(R"((?:all\s+)?(?:the\s+)?)") + kTable +
                 QStringLiteral(R"(\s+(?:with|who\s+have|that\s+have|having|without)\s+(?:no\s+)?orders?\s+)"
                                R"((?:in|for|within|during)\s+(?:the\s+)?(?:last\s+|past\s+)?(?<days>\d+)\s+days)")),
         &Composer::withoutRecentOrders},
        {pattern(QStringLiteral(R"((?:count|how\s+many|number\s+of)\s+(?:all\s+)?(?:the\s+)?)") + kTable +
                 QStringLiteral(R"((?:\s+(?:are\s+there|exist|do\s+we\s+have|there\s+are))?)") + kFilter),
         &Composer::countRows},
        {pattern(kVerb + QStringLiteral(R"((?:the\s+)?top\s+(?<n>\d+)\s+)") + kTable +
                 QStringLiteral(R"((?:\s+by\s+(?<column>.+))?)")),
         &Composer::topRows},
        {pattern(QStringLiteral(R"((?:(?<verb>show|list|get|display|give|find|select|fetch)\s+)?(?:me\s+)?)"
                                R"((?:all\s+)?(?:(?:of\s+)?the\s+)?(?:(?:first\s+)?(?<n>\d+)\s+)?)") +
                 kTable + kFilter),
         &Composer::listRows},
    };
    for (const auto& [expression, rule] : rules) {
        const QRegularExpressionMatch m = expression.match(prompt);
        if (!m.hasMatch())
            continue;
        if (std::optional<Generation> generated = (this->*rule)(m))
            return *generated;
        if (m_refusal)
            return *m_refusal;
    }
    return failure(kUnsupportedPrompt,
                   QStringLiteral("The demo server does not understand “%1”. It answers the example prompts and "
                                  "plain requests about the sample shop (%2), such as “List customers where city "
                                  "is Berlin”, “Count orders”, “Top 5 products by price” or “Show the 20 most "
                                  "recent orders”.")
                       .arg(prompt, SampleSchema::tableList()),
                   QStringLiteral("not understood"));
}

std::optional<Generation> Composer::schemaChange(const QRegularExpressionMatch&)
{
    refuse(kUnsupportedPrompt,
           QStringLiteral("The demo server does not change the schema; it writes INSERT, UPDATE and DELETE "
                          "statements only."),
           QStringLiteral("refused: schema change"));
    return std::nullopt;
}

std::optional<Generation> Composer::deleteRows(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const std::optional<QString> where = whereClause(*table, {}, m);
    if (!where)
        return std::nullopt;
    return answer({QStringLiteral("DELETE FROM ") + table->name, *where}, QStringLiteral("delete ") + table->name);
}

std::optional<Generation> Composer::updateRows(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const Column* column = resolveColumn(*table, m.captured(u"column"));
    if (!column)
        return std::nullopt;
    const std::optional<QString> value = literal(*column, unquote(m.captured(u"value")));
    if (!value)
        return std::nullopt;
    const std::optional<QString> where = whereClause(*table, {}, m);
    if (!where)
        return std::nullopt;
    return answer(
        {QStringLiteral("UPDATE ") + table->name, QStringLiteral("SET %1 = %2").arg(column->name, *value), *where},
        QStringLiteral("update ") + table->name);
}

std::optional<Generation> Composer::insertRow(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    QStringList columns;
    QStringList values;
    for (const QString& item : splitList(m.captured(u"values"))) {
        const auto split = columnAndRest(*table, item);
        if (!split)
            return std::nullopt;
        static const QRegularExpression linkingWord(QStringLiteral(R"(^(?:is|=|of|as|to)\s+)"),
                                                    QRegularExpression::CaseInsensitiveOption);
        const std::optional<QString> value =
            literal(*split->first, unquote(QString(split->second).remove(linkingWord)));
        if (!value)
            return std::nullopt;
        if (columns.contains(split->first->name)) {
            refuse(kInvalidValue,
                   QStringLiteral("The prompt gives %1 twice; give each column one value.").arg(split->first->name),
                   QStringLiteral("refused: column twice"));
            return std::nullopt;
        }
        columns << split->first->name;
        values << *value;
    }
    return answer({QStringLiteral("INSERT INTO %1 (%2)").arg(table->name, columns.join(QStringLiteral(", "))),
                   QStringLiteral("VALUES (%1)").arg(values.join(QStringLiteral(", ")))},
                  QStringLiteral("insert ") + table->name);
}

std::optional<Generation> Composer::recentRows(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const QString digits = m.captured(u"n").isEmpty() ? m.captured(u"count") : m.captured(u"n");
    const std::optional<qint64> n = digits.isEmpty() ? 10 : rowCount(digits);
    if (!n)
        return std::nullopt;
    if (table->timeColumn.isEmpty()) {
        refuse(kUnsupportedPrompt,
               QStringLiteral("The %1 table keeps no dates, so there are no recent %1 to show.").arg(table->label),
               QStringLiteral("refused: no time column"));
        return std::nullopt;
    }
    const QString limit = QStringLiteral("LIMIT %1").arg(*n);
    if (table->name == QLatin1String("orders") && !m_settings.singularResults) {
        const std::optional<QString> where = whereClause(*table, QStringLiteral("o"), m);
        if (!where)
            return std::nullopt;
        return answer({QStringLiteral("SELECT o.id, c.name AS customer, o.status, o.total, o.ordered_at"),
                       QStringLiteral("FROM orders o"), QStringLiteral("JOIN customers c ON c.id = o.customer_id"),
                       *where, QStringLiteral("ORDER BY o.ordered_at DESC, o.id DESC"), limit},
                      QStringLiteral("recent orders"));
    }
    const std::optional<QString> where = whereClause(*table, {}, m);
    if (!where)
        return std::nullopt;
    return answer({QStringLiteral("SELECT *"), QStringLiteral("FROM ") + table->name, *where,
                   QStringLiteral("ORDER BY %1 DESC, id DESC").arg(table->timeColumn), limit},
                  QStringLiteral("recent ") + table->name);
}

std::optional<Generation> Composer::countInPeriod(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    if (table->timeColumn.isEmpty()) {
        refuse(kUnsupportedPrompt, QStringLiteral("The %1 table keeps no dates to count by.").arg(table->label),
               QStringLiteral("refused: no time column"));
        return std::nullopt;
    }
    QString start;
    if (!m.captured(u"days").isEmpty()) {
        const std::optional<qint64> days = rowCount(m.captured(u"days"));
        if (!days)
            return std::nullopt;
        start = daysAgo(*days);
    } else {
        start = periodStart(m.captured(u"period").simplified().toLower());
    }
    QStringList conditions{QStringLiteral("%1 >= %2").arg(table->timeColumn, start)};
    if (m_settings.dataIsolation && !isolation(table->name, {}).isEmpty())
        conditions << isolation(table->name, {});
    const QString alias =
        table->name == QLatin1String("users") ? QStringLiteral("signups") : table->name + QStringLiteral("_count");
    return answer({QStringLiteral("SELECT COUNT(*) AS ") + alias, QStringLiteral("FROM ") + table->name,
                   QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND "))},
                  QStringLiteral("count %1 by period").arg(table->name));
}

std::optional<Generation> Composer::topByRevenue(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const std::optional<qint64> n = rowCount(m.captured(u"n"));
    if (!n)
        return std::nullopt;
    const QString limit = QStringLiteral("LIMIT %1").arg(*n);
    const bool isolated = m_settings.dataIsolation;
    if (table->name == QLatin1String("products")) {
        if (m_settings.singularResults) {
            return answer(
                {QStringLiteral("SELECT product_id, SUM(quantity * unit_price) AS total_revenue"),
                 QStringLiteral("FROM order_items"),
                 isolated ? QStringLiteral("WHERE ") + isolation(QStringLiteral("order_items"), {}) : QString(),
                 QStringLiteral("GROUP BY product_id"), QStringLiteral("ORDER BY total_revenue DESC, product_id"),
                 limit},
                QStringLiteral("top products by revenue"));
        }
        return answer(
            {QStringLiteral("SELECT p.id, p.name, SUM(oi.quantity * oi.unit_price) AS total_revenue"),
             QStringLiteral("FROM order_items oi"), QStringLiteral("JOIN products p ON p.id = oi.product_id"),
             isolated ? QStringLiteral("WHERE ") + isolation(QStringLiteral("order_items"), QStringLiteral("oi"))
                      : QString(),
             QStringLiteral("GROUP BY p.id, p.name"), QStringLiteral("ORDER BY total_revenue DESC, p.id"), limit},
            QStringLiteral("top products by revenue"));
    }
    if (table->name == QLatin1String("customers")) {
        if (m_settings.singularResults) {
            return answer({QStringLiteral("SELECT customer_id, SUM(total) AS total_revenue"),
                           QStringLiteral("FROM orders"),
                           isolated ? QStringLiteral("WHERE ") + isolation(QStringLiteral("orders"), {}) : QString(),
                           QStringLiteral("GROUP BY customer_id"),
                           QStringLiteral("ORDER BY total_revenue DESC, customer_id"), limit},
                          QStringLiteral("top customers by revenue"));
        }
        return answer({QStringLiteral("SELECT c.id, c.name, SUM(o.total) AS total_revenue"),
                       QStringLiteral("FROM orders o"), QStringLiteral("JOIN customers c ON c.id = o.customer_id"),
                       isolated ? QStringLiteral("WHERE ") + isolation(QStringLiteral("customers"), QStringLiteral("c"))
                                : QString(),
                       QStringLiteral("GROUP BY c.id, c.name"), QStringLiteral("ORDER BY total_revenue DESC, c.id"),
                       limit},
                      QStringLiteral("top customers by revenue"));
    }
    refuse(kUnsupportedPrompt,
           QStringLiteral("Revenue belongs to products and customers; ask for the top products or customers by "
                          "revenue."),
           QStringLiteral("refused: revenue of ") + table->name);
    return std::nullopt;
}

std::optional<Generation> Composer::withoutRecentOrders(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const std::optional<qint64> days = rowCount(m.captured(u"days"));
    if (!days)
        return std::nullopt;
    const QString since = daysAgo(*days);
    if (table->name == QLatin1String("customers")) {
        QString where = QStringLiteral("WHERE NOT EXISTS (SELECT 1 FROM orders o WHERE o.customer_id = c.id AND "
                                       "o.ordered_at >= %1)")
                            .arg(since);
        if (m_settings.dataIsolation)
            where += QStringLiteral(" AND ") + isolation(table->name, QStringLiteral("c"));
        return answer({QStringLiteral("SELECT c.id, c.name, c.email, c.city"), QStringLiteral("FROM customers c"),
                       where, QStringLiteral("ORDER BY c.id")},
                      QStringLiteral("customers without recent orders"));
    }
    if (table->name == QLatin1String("products")) {
        QString recent = QStringLiteral("SELECT 1 FROM order_items oi JOIN orders o ON o.id = oi.order_id WHERE "
                                        "oi.product_id = p.id AND o.ordered_at >= %1")
                             .arg(since);
        if (m_settings.dataIsolation)
            recent += QStringLiteral(" AND ") + isolation(QStringLiteral("orders"), QStringLiteral("o"));
        return answer({QStringLiteral("SELECT p.id, p.name, p.category"), QStringLiteral("FROM products p"),
                       QStringLiteral("WHERE NOT EXISTS (%1)").arg(recent), QStringLiteral("ORDER BY p.id")},
                      QStringLiteral("products without recent orders"));
    }
    refuse(kUnsupportedPrompt,
           QStringLiteral("Only customers and products have orders; ask for customers or products with no orders "
                          "in a number of days."),
           QStringLiteral("refused: orders of ") + table->name);
    return std::nullopt;
}

std::optional<Generation> Composer::countRows(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const std::optional<QString> where = whereClause(*table, {}, m);
    if (!where)
        return std::nullopt;
    return answer(
        {QStringLiteral("SELECT COUNT(*) AS %1_count").arg(table->name), QStringLiteral("FROM ") + table->name, *where},
        QStringLiteral("count ") + table->name);
}

std::optional<Generation> Composer::topRows(const QRegularExpressionMatch& m)
{
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table)
        return std::nullopt;
    const std::optional<qint64> n = rowCount(m.captured(u"n"));
    if (!n)
        return std::nullopt;
    const Column* column = nullptr;
    if (!m.captured(u"column").isEmpty()) {
        column = resolveColumn(*table, m.captured(u"column"));
        if (!column)
            return std::nullopt;
    } else if (!table->rankColumn.isEmpty()) {
        column = table->column(table->rankColumn);
    } else {
        refuse(kUnsupportedPrompt,
               QStringLiteral("Say which column ranks the %1, for example “Top 5 %1 by %2”.")
                   .arg(table->label, table->timeColumn.isEmpty() ? QStringLiteral("id") : table->timeColumn),
               QStringLiteral("refused: no ranking column"));
        return std::nullopt;
    }
    QStringList where;
    if (m_settings.dataIsolation && !isolation(table->name, {}).isEmpty())
        where << QStringLiteral("WHERE ") + isolation(table->name, {});
    return answer(
        QStringList{QStringLiteral("SELECT *"), QStringLiteral("FROM ") + table->name} + where +
            QStringList{QStringLiteral("ORDER BY %1 DESC, id").arg(column->name), QStringLiteral("LIMIT %1").arg(*n)},
        QStringLiteral("top %1 by %2").arg(table->name, column->name));
}

std::optional<Generation> Composer::listRows(const QRegularExpressionMatch& m)
{
    // A single unknown word without a verb is no request for a table.
    const bool plainWord = m.captured(u"verb").isEmpty() && m.captured(u"cond").isEmpty();
    const Table* table = resolveTable(m.captured(u"table"));
    if (!table) {
        if (plainWord)
            m_refusal.reset();
        return std::nullopt;
    }
    std::optional<qint64> n;
    if (!m.captured(u"n").isEmpty()) {
        n = rowCount(m.captured(u"n"));
        if (!n)
            return std::nullopt;
    }
    const std::optional<QString> where = whereClause(*table, {}, m);
    if (!where)
        return std::nullopt;
    return answer({QStringLiteral("SELECT *"), QStringLiteral("FROM ") + table->name, *where,
                   QStringLiteral("ORDER BY id"), n ? QStringLiteral("LIMIT %1").arg(*n) : QString()},
                  QStringLiteral("list ") + table->name);
}

const Table* Composer::resolveTable(const QString& words)
{
    const QString word = identifierForm(words);
    QList<std::pair<QString, QString>> spellings;
    for (const Table& t : SampleSchema::tables()) {
        spellings.append({t.name, t.name});
        spellings.append({t.singular, t.name});
    }
    spellings.append({QStringLiteral("items"), QStringLiteral("order_items")});
    spellings.append({QStringLiteral("item"), QStringLiteral("order_items")});
    for (const auto& [spelling, name] : spellings) {
        if (word == spelling)
            return SampleSchema::table(name);
    }
    const std::optional<QString> near = closest(word, spellings);
    if (near && m_settings.selfCorrection) {
        m_corrections << QStringLiteral("%1 → %2").arg(word, *near);
        return SampleSchema::table(*near);
    }
    QString sentence = QStringLiteral("The sample database has no table called “%1”; it has %2.")
                           .arg(words.simplified(), SampleSchema::tableList());
    if (near) {
        sentence +=
            QStringLiteral(" Did you mean %1? With “Auto-fix” on, the server corrects such names itself.").arg(*near);
    }
    refuse(kUnknownTable, sentence, QStringLiteral("refused: unknown table ") + word);
    return nullptr;
}

const Column* Composer::resolveColumn(const Table& table, const QString& words)
{
    const QString word = identifierForm(words);
    QList<std::pair<QString, QString>> spellings;
    for (const Column& c : table.columns) {
        spellings.append({c.name, c.name});
        for (const QString& alias : c.aliases)
            spellings.append({identifierForm(alias), c.name});
    }
    for (const auto& [spelling, name] : spellings) {
        if (word == spelling)
            return table.column(name);
    }
    const std::optional<QString> near = closest(word, spellings);
    if (near && m_settings.selfCorrection) {
        m_corrections << QStringLiteral("%1 → %2").arg(word, *near);
        return table.column(*near);
    }
    QStringList names;
    for (const Column& c : table.columns)
        names << c.name;
    QString sentence = QStringLiteral("The %1 table has no column called “%2”; its columns are %3.")
                           .arg(table.label, words.simplified(), names.join(QStringLiteral(", ")));
    if (near) {
        sentence +=
            QStringLiteral(" Did you mean %1? With “Auto-fix” on, the server corrects such names itself.").arg(*near);
    }
    refuse(kUnknownColumn, sentence, QStringLiteral("refused: unknown column ") + word);
    return nullptr;
}

std::optional<qint64> Composer::rowCount(const QString& digits)
{
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    if (ok && n >= 1 && n <= kMaxRows)
        return n;
    refuse(kInvalidValue, QStringLiteral("Ask for between 1 and %1 rows or days.").arg(kMaxRows),
           QStringLiteral("refused: count out of range"));
    return std::nullopt;
}

std::optional<QString> Composer::literal(const Column& column, const Value& value)
{
    if (!value.quoted && value.text.compare(QLatin1String("null"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("NULL");
    for (const QChar c : value.text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Surrogate) {
            refuse(kInvalidValue, QStringLiteral("Values may not contain control characters."),
                   QStringLiteral("refused: control character"));
            return std::nullopt;
        }
    }
    static const QRegularExpression integer(QStringLiteral(R"(^[-+]?\d{1,18}$)"));
    static const QRegularExpression decimal(QStringLiteral(R"(^[-+]?\d{1,15}(?:\.\d{1,6})?$)"));
    static const QRegularExpression timestamp(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}(?:[ T]\d{2}:\d{2}(?::\d{2})?)?$)"));
    switch (column.kind) {
    case ColumnKind::Integer:
    case ColumnKind::Decimal: {
        const bool whole = column.kind == ColumnKind::Integer;
        if (!(whole ? integer : decimal).match(value.text).hasMatch()) {
            refuse(kInvalidValue,
                   QStringLiteral("“%1” is not %2, and %3 holds %4.")
                       .arg(value.text, whole ? QStringLiteral("a whole number") : QStringLiteral("a number"),
                            column.name, whole ? QStringLiteral("whole numbers") : QStringLiteral("numbers")),
                   QStringLiteral("refused: not a number"));
            return std::nullopt;
        }
        QString text = value.text;
        if (text.startsWith(QLatin1Char('+')))
            text.remove(0, 1);
        return text;
    }
    case ColumnKind::Timestamp:
        if (!timestamp.match(value.text).hasMatch()) {
            refuse(kInvalidValue,
                   QStringLiteral("“%1” is not a date; write dates as 2024-05-31, optionally with a time such as "
                                  "2024-05-31 14:30.")
                       .arg(value.text),
                   QStringLiteral("refused: not a date"));
            return std::nullopt;
        }
        return stringLiteral(QString(value.text).replace(QLatin1Char('T'), QLatin1Char(' ')));
    case ColumnKind::Text:
        return stringLiteral(value.text);
    }
    return std::nullopt;
}

std::optional<std::pair<const Column*, QString>> Composer::columnAndRest(const Table& table, const QString& text)
{
    const QStringList words = text.simplified().split(QLatin1Char(' '));
    // Longest first, so that "unit price 4" finds unit_price rather than a unit column.
    for (qsizetype k = words.size() - 1; k >= 1; --k) {
        const QString name = identifierForm(words.mid(0, k).join(QLatin1Char(' ')));
        for (const Column& c : table.columns) {
            bool named = c.name == name;
            for (const QString& alias : c.aliases)
                named = named || identifierForm(alias) == name;
            if (named)
                return std::make_pair(&c, words.mid(k).join(QLatin1Char(' ')));
        }
    }
    if (words.size() < 2) {
        refuse(kUnsupportedPrompt,
               QStringLiteral("“%1” names no column and value; write them as “city Berlin” or “city is Berlin”.")
                   .arg(text),
               QStringLiteral("refused: no value"));
        return std::nullopt;
    }
    const Column* column = resolveColumn(table, words.first());
    if (!column)
        return std::nullopt;
    return std::make_pair(column, words.mid(1).join(QLatin1Char(' ')));
}

std::optional<QString> Composer::comparison(const QString& qualifier, const Column& column, Operator op,
                                            const Value& value)
{
    const QString name = qualifier.isEmpty() ? column.name : qualifier + QLatin1Char('.') + column.name;
    const std::optional<QString> sqlValue = literal(column, value);
    if (!sqlValue)
        return std::nullopt;
    if (*sqlValue == QLatin1String("NULL")) {
        if (op != Operator::Equal && op != Operator::NotEqual) {
            refuse(kInvalidValue, QStringLiteral("Only “is” and “is not” compare with null."),
                   QStringLiteral("refused: ordered null"));
            return std::nullopt;
        }
        return name + (op == Operator::Equal ? QStringLiteral(" IS NULL") : QStringLiteral(" IS NOT NULL"));
    }
    // PostgreSQL compares text exactly; the sample's MariaDB collation ignores case already.
    if (column.kind == ColumnKind::Text && m_dialect == SqlDialect::PostgreSQL &&
        (op == Operator::Equal || op == Operator::NotEqual)) {
        return QStringLiteral("lower(%1) %2 %3").arg(name, operatorSql(op), stringLiteral(value.text.toLower()));
    }
    return QStringLiteral("%1 %2 %3").arg(name, operatorSql(op), *sqlValue);
}

std::optional<QString> Composer::predicate(const Table& table, const QString& qualifier, const QString& conjunction,
                                           const QString& condition)
{
    const QString conj = conjunction.toLower();
    if (conj == QLatin1String("in") || conj == QLatin1String("from")) {
        const QString columnName = conj == QLatin1String("in") ? QStringLiteral("city") : QStringLiteral("country");
        const Column* column = table.column(columnName);
        if (!column) {
            refuse(kUnsupportedPrompt,
                   QStringLiteral("The %1 table has no %2 column; name the column, as in “%1 where status is "
                                  "shipped”.")
                       .arg(table.label, columnName),
                   QStringLiteral("refused: no ") + columnName);
            return std::nullopt;
        }
        return comparison(qualifier, *column, Operator::Equal, unquote(condition));
    }
    static const QRegularExpression withOperator(
        QStringLiteral(
            R"(^(?<column>.+?)\s+(?<op>is\s+not|isn't|is\s+equal\s+to|is\s+at\s+least|is\s+at\s+most|)"
            R"(is\s+over|is\s+above|is\s+under|is\s+below|is\s+greater\s+than|is\s+less\s+than|)"
            R"(is\s+more\s+than|is\s+after|is\s+before|is|equals|=|!=|<>|>=|<=|>|<|over|above|under|)"
            R"(below|greater\s+than|more\s+than|less\s+than|at\s+least|at\s+most|after|before)\s+(?<value>.+)$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = withOperator.match(condition);
    if (m.hasMatch()) {
        const Column* column = resolveColumn(table, m.captured(u"column"));
        if (!column)
            return std::nullopt;
        return comparison(qualifier, *column, *operatorNamed(m.captured(u"op")), unquote(m.captured(u"value")));
    }
    // "with status shipped"
    const auto split = columnAndRest(table, condition);
    if (!split)
        return std::nullopt;
    return comparison(qualifier, *split->first, Operator::Equal, unquote(split->second));
}

std::optional<QString> Composer::whereClause(const Table& table, const QString& qualifier,
                                             const QRegularExpressionMatch& m)
{
    QStringList conditions;
    if (m_settings.dataIsolation && !isolation(table.name, qualifier).isEmpty())
        conditions << isolation(table.name, qualifier);
    if (!m.captured(u"cond").isEmpty()) {
        for (const QString& part : splitList(m.captured(u"cond"))) {
            const std::optional<QString> p = predicate(table, qualifier, m.captured(u"conj"), part);
            if (!p)
                return std::nullopt;
            conditions << *p;
        }
    }
    return conditions.isEmpty() ? QString() : QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND "));
}

QString Composer::isolation(const QString& table, const QString& qualifier) const
{
    const QString q = qualifier.isEmpty() ? QString() : qualifier + QLatin1Char('.');
    const QString user = QString::number(m_userId);
    const QString customers = QStringLiteral("SELECT id FROM customers WHERE user_id = ") + user;
    if (table == QLatin1String("users"))
        return q + QStringLiteral("id = ") + user;
    if (table == QLatin1String("customers"))
        return q + QStringLiteral("user_id = ") + user;
    if (table == QLatin1String("orders"))
        return QStringLiteral("%1customer_id IN (%2)").arg(q, customers);
    if (table == QLatin1String("order_items"))
        return QStringLiteral("%1order_id IN (SELECT id FROM orders WHERE customer_id IN (%2))").arg(q, customers);
    return {}; // the product catalogue is everybody's
}

QString Composer::stringLiteral(const QString& text) const
{
    QString escaped = text;
    // MariaDB also treats the backslash as an escape character inside quotes.
    if (m_dialect == SqlDialect::MySQL)
        escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString Composer::daysAgo(qint64 days) const
{
    if (m_dialect == SqlDialect::PostgreSQL)
        return QStringLiteral("LOCALTIMESTAMP - INTERVAL '%1 days'").arg(days);
    return QStringLiteral("NOW() - INTERVAL %1 DAY").arg(days);
}

QString Composer::periodStart(const QString& period) const
{
    const bool pg = m_dialect == SqlDialect::PostgreSQL;
    if (period == QLatin1String("today"))
        return QStringLiteral("CURRENT_DATE");
    if (period == QLatin1String("this week"))
        return pg ? QStringLiteral("date_trunc('week', LOCALTIMESTAMP)")
                  : QStringLiteral("CURRENT_DATE - INTERVAL WEEKDAY(CURRENT_DATE) DAY");
    if (period == QLatin1String("this year"))
        return pg ? QStringLiteral("date_trunc('year', LOCALTIMESTAMP)")
                  : QStringLiteral("MAKEDATE(YEAR(CURRENT_DATE), 1)");
    return pg ? QStringLiteral("date_trunc('month', LOCALTIMESTAMP)")
              : QStringLiteral("CURRENT_DATE - INTERVAL (DAYOFMONTH(CURRENT_DATE) - 1) DAY");
}

Generation Composer::answer(const QStringList& clauses, const QString& outcome) const
{
    QStringList lines = clauses;
    lines.removeAll(QString());
    QString note = outcome;
    if (!m_corrections.isEmpty())
        note += QStringLiteral(" (corrected ") + m_corrections.join(QStringLiteral(", ")) + QLatin1Char(')');
    return Generation{lines.join(QLatin1Char('\n')), {}, {}, note};
}

// Collapses white space and drops closing punctuation and polite openings.
QString normalised(const QString& prompt)
{
    QString text = prompt.simplified();
    static const QRegularExpression closing(QStringLiteral(R"([\s.?!;]+$)"));
    static const QRegularExpression polite(QStringLiteral(R"(^(?:please|can\s+you|could\s+you|would\s+you)\s+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression politeEnd(QStringLiteral(R"(,?\s+please$)"),
                                              QRegularExpression::CaseInsensitiveOption);
    text.remove(closing);
    text.remove(polite);
    text.remove(politeEnd);
    text.remove(closing);
    return text;
}

} // namespace

PromptMatcher::PromptMatcher(SqlDialect dialect, qint64 isolationUserId)
    : m_dialect(dialect), m_isolationUserId(isolationUserId)
{}

QStringList PromptMatcher::examplePrompts()
{
    return {QStringLiteral("Show the 10 most recent orders"), QStringLiteral("Count users who signed up this month"),
            QStringLiteral("Top 5 products by total revenue"), QStringLiteral("Customers with no orders in 90 days")};
}

std::optional<SqlDialect> PromptMatcher::dialectNamed(const QString& name)
{
    if (name == QLatin1String("postgresql"))
        return SqlDialect::PostgreSQL;
    if (name == QLatin1String("mysql"))
        return SqlDialect::MySQL;
    return std::nullopt;
}

Generation PromptMatcher::generate(const QString& prompt, const GenerationSettings& settings) const
{
    const QString text = normalised(prompt);
    if (text.isEmpty()) {
        return failure(kInvalidRequest, QStringLiteral("The prompt is empty; describe the data you want to see."),
                       QStringLiteral("refused: empty prompt"));
    }
    Generation generation = Composer(m_dialect, m_isolationUserId, settings).compose(text);
    if (generation.succeeded()) {
        for (const QString& example : examplePrompts()) {
            if (example.compare(text, Qt::CaseInsensitive) == 0)
                generation.outcome = QStringLiteral("example: ") + generation.outcome;
        }
    }
    return generation;
}
