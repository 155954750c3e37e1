#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Tells whether a statement looks as if it changes data or schema, so that the workspace
// asks before running it. A heuristic over the text alone: one of 21 words (insert, update,
// delete, drop, …, copy) standing as a whole word, in any letter case, outside string
// literals and comments; or a text that lifts the read-only mode the workspace runs
// unconfirmed statements in, or changes what that mode does not guard (see
// escapesReadOnly()).
//
// Literals and comments are found by one left-to-right scan that reads the text the way a
// server would: a quote inside a comment opens nothing, and comment markers inside a
// literal open nothing. Because PostgreSQL and MySQL (and their backslash settings) split
// the same text differently, the text is read each way and counts as changing data when
// any reading leaves one of the words in code. A literal or comment that never closes
// hides nothing, and quoted identifiers and dollar-quoted bodies stay in view.
namespace SQLClassifier {

enum class Dialect { PostgreSQL, MySQL };

// One way a server may read the text. backslashEscapes: PostgreSQL with
// standard_conforming_strings off (backslashes escape in every string, not only in
// E'…'), or MySQL without NO_BACKSLASH_ESCAPES (its default).
struct Reading
{
    Dialect dialect = Dialect::PostgreSQL;
    bool backslashEscapes = false;
};

// How a server reads text by default: PostgreSQL with standard_conforming_strings on,
// MySQL without NO_BACKSLASH_ESCAPES.
Reading defaultReading(Dialect dialect);

// A stretch of text that a server skips as a string literal or a comment, in UTF-16 code
// units.
struct HiddenRange
{
    enum class Kind : quint8 { StringLiteral, Comment };

    qsizetype start = 0;
    qsizetype length = 0;
    Kind kind = Kind::StringLiteral;

    bool operator==(const HiddenRange&) const = default;
};

bool isDestructive(QStringView sql);

// The string literals and comments of one reading, in order and disjoint: exactly what
// codeText replaces by spaces. A literal's prefix (E in E'…') belongs to it; of MySQL's
// executable comments only the opening marker and version number are a comment.
QList<HiddenRange> hiddenRanges(QStringView sql, Reading reading);

// The text a server would take as code under one reading: each string literal and
// comment replaced by one space; quoted identifiers, dollar-quoted bodies and MySQL's
// executable comments kept; everything from an opener that never closes kept as is.
QString codeText(QStringView sql, Reading reading);

// Whether text holds one of the 21 words as a whole word, in any letter case.
bool containsModifyingKeyword(QStringView text);

// Whether the text may change something although the server runs it in a read-only
// session, which the server would then not refuse. Either it leaves the mode before it
// writes: a transaction opened or switched READ WRITE (BEGIN, START TRANSACTION, SET
// [SESSION] TRANSACTION, SET SESSION CHARACTERISTICS), a SET of transaction_read_only,
// default_transaction_read_only or tx_read_only (SET STATEMENT … FOR included), or
// set_config() naming one of them. Or it acts where the mode does not reach: server-wide
// settings (SET GLOBAL, PERSIST), files on the server (INTO OUTFILE, DUMPFILE, large
// objects), other sessions (KILL, pg_terminate_backend, pg_cancel_backend), FLUSH, PURGE,
// NOTIFY, CHECKPOINT. Judged over every reading's code, as isDestructive() does.
bool escapesReadOnly(QStringView sql);

} // namespace SQLClassifier
