// The headless walk of scripts/demo: with the demo profile's sign-in and active
// connection, sends each example prompt to the server, runs the SQL it answers and prints
// the first rows with the summary line, as the application would show them.

#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "devserver/PromptMatcher.h"
#include "server/APIManager.h"
#include "stores/KeychainHelper.h"
#include "stores/QuerySettings.h"
#include "workspace/QueryResultModel.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>

namespace {

constexpr qsizetype kShownRows = 10;
constexpr qsizetype kCellWidth = 28;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// One cell as the grid shows it: NULL for the null marker, one line, clipped.
QString cellText(const SQLValue& value)
{
    if (!value)
        return QStringLiteral("NULL");
    QString text = value->simplified();
    if (text.size() > kCellWidth)
        text = text.left(kCellWidth - 1) + QStringLiteral("…");
    return text;
}

void printTable(const QueryResult& result)
{
    if (result.columnNames.isEmpty())
        return;
    const qsizetype shown = std::min<qsizetype>(result.rows.size(), kShownRows);
    QList<QStringList> lines{result.columnNames};
    // As in the grid, values that look like numbers stand at the right of their column.
    QList<QList<bool>> right{QList<bool>(result.columnNames.size(), false)};
    for (qsizetype r = 0; r < shown; ++r) {
        QStringList cells;
        QList<bool> numeric;
        for (const SQLValue& value : result.rows.at(r)) {
            cells << cellText(value);
            numeric << (value && QueryResultModel::looksNumeric(*value));
        }
        lines << cells;
        right << numeric;
    }
    QList<qsizetype> widths(result.columnNames.size(), 0);
    for (const QStringList& line : lines) {
        for (qsizetype c = 0; c < line.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], std::min(line.at(c).size(), kCellWidth));
    }
    const auto print = [&](qsizetype index) {
        QStringList padded;
        for (qsizetype c = 0; c < widths.size(); ++c) {
            const QString cell = lines.at(index).value(c);
            padded << (right.at(index).value(c) ? cell.rightJustified(widths[c], QLatin1Char(' '), true)
                                                : cell.leftJustified(widths[c], QLatin1Char(' '), true));
        }
        QString text = padded.join(QStringLiteral(" │ "));
        // Only the padding at the end goes: a number keeps the spaces that align it.
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        out() << "  " << text << '\n';
    };
    print(0);
    QStringList rules;
    for (const qsizetype width : widths)
        rules << QString(width, QChar(u'─'));
    out() << "  " << rules.join(QStringLiteral("─┼─")) << '\n';
    for (qsizetype i = 1; i < lines.size(); ++i)
        print(i);
    if (result.rows.size() > shown)
        out() << "  …\n";
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

// Walks the prompts one after another; quits the application with 0 when every prompt
// gave SQL that ran, else 1.
class DemoWalk final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DemoWalk)

public:
    DemoWalk(const DatabaseConnection& connection, QStringList prompts)
        : m_connection(connection), m_prompts(std::move(prompts))
    {}

    void next()
    {
        if (m_index >= m_prompts.size()) {
            out().flush();
            QCoreApplication::exit(m_failed ? 1 : 0);
            return;
        }
        const QString prompt = m_prompts.at(m_index++);
        out() << "\n▶ " << prompt << '\n';
        out().flush();
        APIManager::shared().searchWithPrompt(prompt, [this](const std::optional<QString>& sql, const QString& error) {
            if (!sql) {
                fail(error);
                return;
            }
            for (const QString& line : sql->split(QLatin1Char('\n')))
                out() << "  " << line << '\n';
            out() << '\n';
            out().flush();
            DatabaseExecutor::shared().executeQuery(*sql, m_connection, this,
                                                    [this](const QueryResultPtr& result, const QString& failure) {
                                                        if (!result) {
                                                            fail(failure);
                                                            return;
                                                        }
                                                        printTable(*result);
                                                        out() << "  " << result->statusMessage << '\n';
                                                        next();
                                                    });
        });
    }

private:
    void fail(const QString& error)
    {
        out() << "  Error: " << error << '\n';
        m_failed = true;
        next();
    }

    DatabaseConnection m_connection;
    QStringList m_prompts;
    qsizetype m_index = 0;
    bool m_failed = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The application's names, so that the settings and files are the profile's own.
    QCoreApplication::setOrganizationName(QStringLiteral("Mirelo"));
    QCoreApplication::setApplicationName(QStringLiteral("Mirelo"));

    const QString serverURL = KeychainHelper::serverURL();
    const QString apiKey = KeychainHelper::apiKey();
    if (serverURL.isEmpty() || apiKey.isEmpty()) {
        QTextStream(stderr) << "This profile is not signed in to a server; scripts/demo makes one that is.\n";
        return 1;
    }
    const std::optional<DatabaseConnection> connection = ConnectionManager::shared().activeConnection();
    if (!connection) {
        QTextStream(stderr) << "This profile has no active connection; scripts/demo makes one that has.\n";
        return 1;
    }
    if (!DatabaseExecutor::isAvailableForType(connection->type)) {
        QTextStream(stderr) << DatabaseExecutor::installInstructionsForType(connection->type) << '\n';
        return 1;
    }
    APIManager::shared().setServerURL(serverURL);
    APIManager::shared().setApiKey(apiKey);

    const QuerySettings& settings = QuerySettings::shared();
    out() << "Server " << serverURL << " · connection “" << connection->name << "” (" << connection->type << ", "
          << connection->host << ':' << connection->port << '/' << connection->database << ")\n"
          << "Writes " << onOff(settings.allowDestructive()) << " · Auto-fix " << onOff(settings.selfCorrection())
          << " · My data " << onOff(settings.dataIsolation()) << " · Single " << onOff(settings.singularResults())
          << '\n';

    DemoWalk walk(*connection, PromptMatcher::examplePrompts());
    // From inside the event loop, so that even an answer given at once can end it.
    QMetaObject::invokeMethod(&walk, &DemoWalk::next, Qt::QueuedConnection);
    return app.exec();
}

#include "main.moc"
