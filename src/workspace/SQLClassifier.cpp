#include "workspace/SQLClassifier.h"

#include <QRegularExpression>

namespace {

using Dialect = SQLClassifier::Dialect;
using HiddenRange = SQLClassifier::HiddenRange;
using Kind = HiddenRange::Kind;

constexpr SQLClassifier::Reading kReadings[] = {
    {Dialect::PostgreSQL, false},
    {Dialect::PostgreSQL, true},
    {Dialect::MySQL, true},
    {Dialect::MySQL, false},
};

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// PostgreSQL takes every byte above ASCII as a letter, so every non-ASCII unit does here.
bool isIdentifierStart(char16_t c)
{
    return isAsciiLetter(c) || c == u'_' || c >= 0x80;
}

bool isIdentifierPart(char16_t c)
{
    return isIdentifierStart(c) || isDigit(c) || c == u'$';
}

// MySQL takes "--" as a comment only before a space or control character, or at the end
// (where at() reads 0).
bool endsDoubleDashComment(char16_t c)
{
    return c <= 0x20 || c == 0x7F;
}

class Scanner
{
public:
    Scanner(QStringView sql, SQLClassifier::Reading reading) : m_sql(sql), m_reading(reading) {}

    QList<HiddenRange> run() &&
    {
        const bool postgres = m_reading.dialect == Dialect::PostgreSQL;
        while (m_at < size()) {
            // Whatever follows an opener that never closes stays code.
            if (!(postgres ? stepPostgreSQL() : stepMySQL()))
                break;
        }
        return std::move(m_hidden);
    }

private:
    qsizetype size() const { return m_sql.size(); }
    char16_t at(qsizetype i) const { return i < size() ? m_sql[i].unicode() : 0; }

    // The next unit belongs to whatever surrounds it.
    void pass(qsizetype to) { m_at = to; }

    // [m_at, to) is a literal or comment.
    void hide(qsizetype to, Kind kind)
    {
        m_hidden.append({m_at, to - m_at, kind});
        m_at = to;
    }

    // One token or unit under PostgreSQL's rules; false when an opener never closes.
    bool stepPostgreSQL()
    {
        const char16_t c = at(m_at);
        const char16_t next = at(m_at + 1);
        if (c == u'-' && next == u'-') {
            hide(lineEnd(m_at + 2, true), Kind::Comment);
        } else if (c == u'/' && next == u'*') {
            const qsizetype end = nestedCommentEnd(m_at + 2);
            if (end < 0)
                return false;
            hide(end, Kind::Comment);
        } else if ((c == u'e' || c == u'E') && next == u'\'') {
            // E'…' only where a word starts: inside a word the E is part of a name.
            return literal(m_at + 1, u'\'', true);
        } else if (isIdentifierStart(c)) {
            qsizetype end = m_at + 1;
            while (end < size() && isIdentifierPart(at(end)))
                ++end;
            pass(end);
        } else if (c == u'$') {
            return dollar();
        } else if (c == u'\'') {
            return literal(m_at, u'\'', m_reading.backslashEscapes);
        } else if (c == u'"') {
            return quotedName(u'"', false);
        } else {
            pass(m_at + 1);
        }
        return true;
    }

    // One token or unit under MySQL's rules; false when an opener never closes.
    bool stepMySQL()
    {
        const char16_t c = at(m_at);
        const char16_t next = at(m_at + 1);
        if (c == u'#') {
            hide(lineEnd(m_at + 1, false), Kind::Comment);
        } else if (c == u'-' && next == u'-' && endsDoubleDashComment(at(m_at + 2))) {
            hide(lineEnd(m_at + 2, false), Kind::Comment);
        } else if (c == u'/' && next == u'*') {
            // /*! … */ and MariaDB's /*M! … */ run their content: only the marker and
            // its version number go.
            qsizetype marker = m_at + 2;
            if (at(marker) == u'M' && at(marker + 1) == u'!')
                marker += 2;
            else if (at(marker) == u'!')
                marker += 1;
            if (marker > m_at + 2) {
                for (int digits = 0; digits < 6 && isDigit(at(marker)); ++digits)
                    ++marker;
                hide(marker, Kind::Comment);
                return true;
            }
            const qsizetype close = m_sql.indexOf(u"*/", m_at + 2);
            if (close < 0)
                return false;
            hide(close + 2, Kind::Comment);
        } else if (c == u'\'') {
            return literal(m_at, u'\'', m_reading.backslashEscapes);
        } else if (c == u'"') {
            // A string by default, a name under ANSI_QUOTES: kept either way.
            return quotedName(u'"', m_reading.backslashEscapes);
        } else if (c == u'`') {
            return quotedName(u'`', false);
        } else {
            pass(m_at + 1);
        }
        return true;
    }

    // Where a line comment whose body starts at from ends: at the line break, which stays.
    qsizetype lineEnd(qsizetype from, bool carriageReturnEnds) const
    {
        for (qsizetype i = from; i < size(); ++i) {
            const char16_t c = at(i);
            if (c == u'\n' || (carriageReturnEnds && c == u'\r'))
                return i;
        }
        return size();
    }

    // PostgreSQL block comments nest; -1 when the outermost one never closes.
    qsizetype nestedCommentEnd(qsizetype from) const
    {
        int depth = 1;
        for (qsizetype i = from; i < size();) {
            if (at(i) == u'*' && at(i + 1) == u'/') {
                i += 2;
                if (--depth == 0)
                    return i;
            } else if (at(i) == u'/' && at(i + 1) == u'*') {
                i += 2;
                ++depth;
            } else {
                ++i;
            }
        }
        return -1;
    }

    // The end of a quoted run whose opening quote is at open: a doubled quote stands for
    // one, and with backslash escapes a backslash takes the next unit with it. -1 when it
    // never closes.
    qsizetype quotedEnd(qsizetype open, char16_t quote, bool backslashEscapes) const
    {
        for (qsizetype i = open + 1; i < size();) {
            const char16_t c = at(i);
            if (c == u'\\' && backslashEscapes) {
                i += 2;
            } else if (c == quote) {
                if (at(i + 1) != quote)
                    return i + 1;
                i += 2;
            } else {
                ++i;
            }
        }
        return -1;
    }

    // A literal from m_at (a prefix such as E included) whose quote is at open.
    bool literal(qsizetype open, char16_t quote, bool backslashEscapes)
    {
        const qsizetype end = quotedEnd(open, quote, backslashEscapes);
        if (end < 0)
            return false;
        hide(end, Kind::StringLiteral);
        return true;
    }

    bool quotedName(char16_t quote, bool backslashEscapes)
    {
        const qsizetype end = quotedEnd(m_at, quote, backslashEscapes);
        if (end < 0)
            return false;
        pass(end);
        return true;
    }

    // $1 is a parameter; $$ or $tag$ opens a body that runs to the same delimiter. The
    // body is kept, but nothing inside it opens a literal or comment.
    bool dollar()
    {
        qsizetype i = m_at + 1;
        if (isDigit(at(i))) {
            while (isDigit(at(i)))
                ++i;
            pass(i);
            return true;
        }
        if (i < size() && isIdentifierStart(at(i))) {
            ++i;
            while (i < size() && isIdentifierPart(at(i)) && at(i) != u'$')
                ++i;
        }
        if (at(i) != u'$') {
            pass(m_at + 1);
            return true;
        }
        const QStringView delimiter = m_sql.sliced(m_at, i + 1 - m_at);
        const qsizetype close = m_sql.indexOf(delimiter, i + 1);
        if (close < 0)
            return false;
        pass(close + delimiter.size());
        return true;
    }

    QStringView m_sql;
    SQLClassifier::Reading m_reading;
    QList<HiddenRange> m_hidden;
    qsizetype m_at = 0; // the scan position
};

} // namespace

bool SQLClassifier::isDestructive(QStringView sql)
{
    for (const Reading& reading : kReadings) {
        if (containsModifyingKeyword(codeText(sql, reading)))
            return true;
    }
    return escapesReadOnly(sql);
}

bool SQLClassifier::escapesReadOnly(QStringView sql)
{
    static const QRegularExpression escape = [] {
        // A comment between two words reads as a space in code text, so \s+ covers it.
        QRegularExpression expression(
            QStringLiteral(
                "\\bread\\s+write\\b|"
                "\\bset\\b[^;]*?\\b(?:default_transaction_read_only|transaction_read_only|tx_read_only)\\b|"
                "\\bset\\b[^;]*?(?:\\b(?:global|persist|persist_only)\\b|@@(?:global|persist|persist_only)\\.)|"
                "\\binto\\s+(?:outfile|dumpfile)\\b|"
                "\\b(?:kill|flush|purge|notify|checkpoint)\\b|"
                "\\b(?:lo_import|lo_export|lo_unlink|lo_create|lo_creat|lo_from_bytea|lo_put|lowrite|"
                "lo_truncate|pg_notify|pg_terminate_backend|pg_cancel_backend|pg_reload_conf|"
                "pg_rotate_logfile|pg_switch_wal)\\s*\\("),
            QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
        expression.optimize();
        return expression;
    }();
    // set_config() takes the setting's name as a string literal, which code text hides.
    static const QRegularExpression setConfig(QStringLiteral("\\bset_config\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    const bool namesSetting = sql.contains(u"transaction_read_only", Qt::CaseInsensitive);
    for (const Reading& reading : kReadings) {
        const QString code = codeText(sql, reading);
        if (escape.match(code).hasMatch() || (namesSetting && setConfig.match(code).hasMatch()))
            return true;
    }
    return false;
}

SQLClassifier::Reading SQLClassifier::defaultReading(Dialect dialect)
{
    return {dialect, dialect == Dialect::MySQL};
}

QList<HiddenRange> SQLClassifier::hiddenRanges(QStringView sql, Reading reading)
{
    return Scanner(sql, reading).run();
}

QString SQLClassifier::codeText(QStringView sql, Reading reading)
{
    QString code;
    code.reserve(sql.size());
    qsizetype kept = 0;
    for (const HiddenRange& range : hiddenRanges(sql, reading)) {
        code.append(sql.sliced(kept, range.start - kept));
        code.append(QLatin1Char(' '));
        kept = range.start + range.length;
    }
    code.append(sql.sliced(kept));
    return code;
}

bool SQLClassifier::containsModifyingKeyword(QStringView text)
{
    static const QRegularExpression keyword = [] {
        QRegularExpression expression(
            QStringLiteral("\\b(insert|update|delete|drop|truncate|alter|create|replace|merge|grant|revoke|call|"
                           "exec|execute|vacuum|reindex|refresh|rename|comment|lock|copy)\\b"),
            QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
        expression.optimize();
        return expression;
    }();
    return keyword.match(text).hasMatch();
}
