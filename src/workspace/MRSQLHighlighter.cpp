#include "workspace/MRSQLHighlighter.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

namespace {

// The word-level passes keep the expressions' own notion of words, letters and digits,
// taken from Unicode as in the original highlighter. The delimited passes (literals and
// comments) are plain scans with the same results as their expressions, because a
// backtracking engine tries every unclosed opener to the end of the text and so turns
// quadratic on unbalanced input.
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

// Matches of '(?:[^']|'')*' one after another. From an opening quote the literal runs
// over doubled quotes to the first single one; when the text ends first, the expression
// falls back to ending on the first quote of the last doubled pair, if there was one.
void paintStringLiterals(RoleMap& map, QStringView text)
{
    const qsizetype size = text.size();
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(QLatin1Char('\''), from);
        if (open < 0)
            return;
        qsizetype i = open + 1;
        qsizetype lastPair = -1;
        qsizetype end = -1;
        while (true) {
            const qsizetype quote = text.indexOf(QLatin1Char('\''), i);
            if (quote < 0)
                break;
            if (quote + 1 < size && text[quote + 1] == QLatin1Char('\'')) {
                lastPair = quote;
                i = quote + 2;
                continue;
            }
            end = quote + 1;
            break;
        }
        if (end < 0) {
            // No single quote closes it: no later opener can be closed either.
            if (lastPair < 0)
                return;
            end = lastPair + 1;
        }
        map.paint(open, end - open, SQLRole::String);
        from = end;
    }
}

enum class CommentKind { Line, Block };

// Matches of --[^\n]* or of /\*[\s\S]*?\*/ one after another. A line comment stops
// before its line break or at the end of the text; a block comment ends with the first */
// and is no comment without one.
void paintComments(RoleMap& map, QStringView text, CommentKind kind)
{
    const bool line = kind == CommentKind::Line;
    const QStringView opener = line ? u"--" : u"/*";
    const QStringView closer = line ? u"\n" : u"*/";
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(opener, from);
        if (open < 0)
            return;
        qsizetype end = text.indexOf(closer, open + opener.size());
        if (end < 0) {
            if (!line)
                return;
            end = text.size();
        } else if (!line) {
            end += closer.size();
        }
        map.paint(open, end - open, SQLRole::Comment);
        from = end;
    }
}

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

QList<SQLSpan> MRSQLHighlighter::highlight(QStringView sql)
{
    if (sql.isEmpty())
        return {};
    const Expressions& e = expressions();
    RoleMap map(sql.size());
    map.paintMatches(e.keyword, sql, 1, SQLRole::Keyword);
    map.paintMatches(e.function, sql, 1, SQLRole::Function);
    map.paintMatches(e.number, sql, 0, SQLRole::Number);
    paintStringLiterals(map, sql);
    paintComments(map, sql, CommentKind::Line);
    paintComments(map, sql, CommentKind::Block);
    return map.spans();
}
