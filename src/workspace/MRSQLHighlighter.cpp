#include "workspace/MRSQLHighlighter.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

namespace {

// The word-level passes keep the expressions' own notion of words, letters and digits,
// taken from Unicode as in the original highlighter. String literals and comments are not
// expressions: they come from the destructive-statement check's own scan, so that text is
// shown as code exactly where that check reads it as code.
constexpr auto kWordOptions = QRegularExpression::UseUnicodePropertiesOption;

QRegularExpression compiled(const QString& pattern, QRegularExpression::PatternOptions options)
{
    QRegularExpression expression(pattern, options);
    expression.optimize();
    Q_ASSERT(expression.isValid());
    return expression;
}

struct Expressions
{
    QRegularExpression keyword;
    QRegularExpression function;
    QRegularExpression number;
};

const Expressions& expressions()
{
    // A function-local static is initialised exactly once even when several threads ask
    // at the same time; afterwards the expressions are only read.
    static const Expressions shared = [] {
        QStringList words(MRSQLHighlighter::keywords().cbegin(), MRSQLHighlighter::keywords().cend());
        std::sort(words.begin(), words.end());
        return Expressions{
            compiled(QStringLiteral("\\b(%1)\\b").arg(words.join(QLatin1Char('|'))),
                     QRegularExpression::CaseInsensitiveOption | kWordOptions),
            compiled(QStringLiteral("\\b([a-zA-Z_][a-zA-Z0-9_]*)\\s*\\("), kWordOptions),
            compiled(QStringLiteral("\\b\\d+(?:\\.\\d+)?\\b"), kWordOptions),
        };
    }();
    return shared;
}

class RoleMap
{
public:
    explicit RoleMap(qsizetype size) : m_roles(size_t(size), SQLRole::Plain) {}

    void paint(qsizetype start, qsizetype length, SQLRole role) { std::fill_n(m_roles.begin() + start, length, role); }

    void paintMatches(const QRegularExpression& expression, QStringView text, int group, SQLRole role)
    {
        auto it = expression.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedStart(group) >= 0)
                paint(match.capturedStart(group), match.capturedLength(group), role);
        }
    }

    QList<SQLSpan> spans() const
    {
        QList<SQLSpan> result;
        const qsizetype size = qsizetype(m_roles.size());
        for (qsizetype i = 0; i < size;) {
            const SQLRole role = m_roles[size_t(i)];
            qsizetype end = i + 1;
            while (end < size && m_roles[size_t(end)] == role)
                ++end;
            if (role != SQLRole::Plain)
                result.append({i, end - i, role});
            i = end;
        }
        return result;
    }

private:
    std::vector<SQLRole> m_roles;
};

} // namespace

const QSet<QString>& MRSQLHighlighter::keywords()
{
    static const QSet<QString> words = [] {
        QSet<QString> set;
        for (const char* word :
             {"select",     "from",     "where",  "join",      "inner",      "left",    "right",  "full",
              "outer",      "cross",    "on",     "using",     "group",      "by",      "order",  "having",
              "limit",      "offset",   "insert", "into",      "values",     "update",  "set",    "delete",
              "create",     "table",    "alter",  "drop",      "truncate",   "index",   "view",   "as",
              "and",        "or",       "not",    "null",      "is",         "in",      "like",   "ilike",
              "between",    "distinct", "case",   "when",      "then",       "else",    "end",    "union",
              "intersect",  "except",   "all",    "any",       "exists",     "asc",     "desc",   "with",
              "returning",  "primary",  "key",    "foreign",   "references", "default", "unique", "check",
              "constraint", "cast",     "over",   "partition", "window",     "fetch",   "first",  "next",
              "rows",       "only",     "row",    "true",      "false"})
            set.insert(QString::fromLatin1(word));
        return set;
    }();
    return words;
}

void MRSQLHighlighter::ensureRegexes()
{
    expressions();
}

QList<SQLSpan> MRSQLHighlighter::highlight(QStringView sql, SQLClassifier::Dialect dialect)
{
    if (sql.isEmpty())
        return {};
    const Expressions& e = expressions();
    RoleMap map(sql.size());
    map.paintMatches(e.keyword, sql, 1, SQLRole::Keyword);
    map.paintMatches(e.function, sql, 1, SQLRole::Function);
    map.paintMatches(e.number, sql, 0, SQLRole::Number);
    for (const SQLClassifier::HiddenRange& range :
         SQLClassifier::hiddenRanges(sql, SQLClassifier::defaultReading(dialect))) {
        const bool literal = range.kind == SQLClassifier::HiddenRange::Kind::StringLiteral;
        map.paint(range.start, range.length, literal ? SQLRole::String : SQLRole::Comment);
    }
    return map.spans();
}
