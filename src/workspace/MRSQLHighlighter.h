#pragma once

#include "workspace/SQLClassifier.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

// What a stretch of SQL is when highlighted; every role but Plain has its own palette colour.
enum class SQLRole : quint8 { Plain, Keyword, Function, Number, String, Comment };

// One highlighted stretch of SQL, in UTF-16 code units.
struct SQLSpan
{
    qsizetype start = 0;
    qsizetype length = 0;
    SQLRole role = SQLRole::Plain;

    bool operator==(const SQLSpan&) const = default;
};

// Splits SQL into coloured stretches. Colours are roles, not values, so a view resolves
// them for its own appearance and a theme switch needs no new split.
class MRSQLHighlighter final
{
public:
    MRSQLHighlighter() = delete;

    // The 77 lower-case words coloured as keywords.
    static const QSet<QString>& keywords();
    // Compiles the expressions once per process; safe to call from any thread.
    static void ensureRegexes();

    // Keywords, function names and numbers, each pass over the whole text and later
    // passes winning where they overlap; then string literals and comments as the
    // destructive-statement check reads them for the dialect's default settings, over
    // everything else. So a quote inside a comment opens no string, and nothing that
    // check would read as code is shown as a string or comment. The result is ordered,
    // disjoint and holds no Plain span; text outside it is plain. Time grows linearly with
    // the text.
    static QList<SQLSpan> highlight(QStringView sql,
                                    SQLClassifier::Dialect dialect = SQLClassifier::Dialect::PostgreSQL);
};
