#pragma once

#include "db/DatabaseConnection.h"
#include "db/DatabaseExecutor.h"
#include "db/QueryError.h"
#include "db/QueryResult.h"
#include "ui/MRContentRootView.h"
#include "ui/MRTheme.h"
#include "update/UpdateInfo.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class ContentViewControllerDelegate;
class ElidedLabel;
class MRButton;
class MRHistoryRow;
class MRLabel;
class MRPanel;
class MRSettingChip;
class MRSpinnerView;
class MRSuggestionRow;
class QLayout;
class QShortcut;
class QSpacerItem;
class QTextEdit;
class QTimer;
class QVariantAnimation;
class QVBoxLayout;
class QuerySettings;
class ResultsGridView;
class UpdateBannerView;
class WorkspacePage;

// The query workspace, the right-hand pane of the main window: a plain-English prompt
// goes to the server, the SQL that comes back is shown for review and recorded in the
// history, and Execute runs it against the active connection (asking first when it looks
// as if it changes data or schema) and shows the rows. A second page lists the history.
// It also offers example prompts, the connection choice, the four generation settings and
// the update banner. Main thread only.
//
// A statement the destructive check lets through runs in a session the server keeps
// read-only; when the server refuses because it writes, the same confirmation is asked
// with the server's reason, and "Run Query" runs it again able to write. While a statement
// runs, Execute becomes Stop (Escape too), which cancels it on the server.
class ContentViewController final : public MRContentRootView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContentViewController)

public:
    enum class MainView { Query, History };

    // One example prompt: its symbol and its text.
    struct Example
    {
        QString icon;
        QString text;
    };
    static QList<Example> examples();

    // Measurements of the pane, in points.
    static constexpr int kInitialWidth = 760;
    static constexpr int kInitialHeight = 700;
    static constexpr int kBannerHeight = 52;
    static constexpr int kBannerAnimationMs = 200;
    static constexpr int kPromptCardHeight = 152;
    static constexpr int kSQLCardMinHeight = 50;
    static constexpr int kSQLCardMaxHeight = 280;
    static constexpr int kCopiedMs = 1400;

    explicit ContentViewController(QWidget* parent = nullptr);
    ~ContentViewController() override;

    ContentViewControllerDelegate* delegate() const;
    // See ContentViewControllerDelegate for who must outlive whom.
    void setDelegate(ContentViewControllerDelegate* delegate);

    // Clears the workspace for a new prompt. A generation or statement in flight goes on.
    void startNewQuery();
    // The history page is reloaded each time it is shown.
    void showMainView(MainView view);
    MainView mainView() const;
    // Brings history entry index back into the query page; nothing runs. Ignored when
    // index names no entry.
    void loadHistoryRecordAtIndex(qsizetype index);
    // Rebuilds the history page from QueryHistory, through the filter.
    void reloadHistory();
    // Keeps records whose prompt or SQL holds the text, in any letter case; an empty text
    // shows every record.
    void filterHistory(const QString& filter);
    std::optional<QString> historyFilter() const { return m_historyFilter; }
    // Shows the active connection on the connection button.
    void connectionsChanged();
    void focusPrompt();

    // The card height that shows sql whole in a card of the given width: the text
    // measured at the card's width less 18 (520 while the card is not laid out), plus
    // 24, within 50 to 280.
    static int sqlCardHeightForText(const QString& sql, int cardWidth);

    // True from Execute (or "Run Query") until the statement's outcome arrives.
    bool isRunningQuery() const { return m_runTicket != 0; }

    // The time the history's relative times are counted from; the clock by default.
    void setClockForTesting(std::function<QDateTime()> clock);

    // The parts, for the window that hosts the workspace and for tests.
    UpdateBannerView* updateBanner() const { return m_updateBanner; }
    WorkspacePage* queryPage() const { return m_queryScroll; }
    WorkspacePage* historyPage() const { return m_historyScroll; }
    QTextEdit* promptTextView() const { return m_promptTextView; }
    MRLabel* promptPlaceholder() const { return m_promptPlaceholder; }
    MRPanel* promptCard() const { return m_promptCard; }
    MRButton* plusButton() const { return m_plusButton; }
    MRButton* sendButton() const { return m_sendButton; }
    MRButton* connButton() const { return m_connButton; }
    MRLabel* hintLabel() const { return m_hintLabel; }
    MRSpinnerView* spinner() const { return m_spinner; }
    QList<MRSettingChip*> settingChips() const { return m_chips; }
    ElidedLabel* statusLabel() const { return m_statusLabel; }
    QWidget* suggestionsBox() const { return m_suggestionsBox; }
    QList<MRSuggestionRow*> suggestionRows() const { return m_suggestionRows; }
    QWidget* resultsBox() const { return m_resultsBox; }
    QTextEdit* sqlTextView() const { return m_sqlTextView; }
    MRPanel* sqlCard() const { return m_sqlCard; }
    MRButton* sqlCopyButton() const { return m_sqlCopyButton; }
    MRButton* executeButton() const { return m_executeButton; }
    MRSpinnerView* runSpinner() const { return m_runSpinner; }
    MRLabel* resultsStatusLabel() const { return m_resultsStatusLabel; }
    ResultsGridView* resultsGrid() const { return m_resultsGrid; }
    QWidget* historyColumn() const;
    MRLabel* historyHeader() const { return m_historyHeader; }
    MRLabel* historyEmptyLabel() const { return m_historyEmptyLabel; }
    QList<MRHistoryRow*> historyRows() const { return m_historyRows; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUpdateBanner();
    void buildQueryPane();
    QWidget* buildSuggestionsBox();
    QWidget* buildResultsBox();
    void buildHistoryPane();
    QTextEdit* makeTextViewEditable(bool editable, bool monospace);
    MRSettingChip* makeChip(const QString& symbol, const QString& label, const MRColor& color, const QString& name,
                            const QString& detail, bool (QuerySettings::*get)() const,
                            void (QuerySettings::*set)(bool));

    void sendClicked();
    void generateClicked();
    void generationFinished(const QString& prompt, const std::optional<QString>& sql, const QString& error);
    void cancelGenerate();
    void copyClicked();
    void executeOrStopClicked();
    void executeClicked();
    // Asks before running sql able to write; refusal, when set, is the server's reason for
    // refusing to run it read-only.
    void confirmDestructive(const QString& sql, const DatabaseConnection& connection, const QString& refusal = {});
    void runQuery(const QString& sql, const DatabaseConnection& connection, bool readOnly);
    void stopQuery();
    void setRunning(bool running);
    void queryFinished(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                       const QueryResultPtr& result, const QueryError& error);
    void showRunningTime();
    void showExamplesMenu();
    void insertExample(const QString& prompt);
    void runExample(const QString& prompt);
    void showConnectionMenu();

    void setGenerating(bool generating);
    void setStatus(const QString& text, bool error);
    void setResultsStatus(const QString& text, bool error);
    void displaySQL(const QString& sql);
    void adjustSQLCardHeight();
    void setShowingResults(bool showing);
    void setPromptText(const QString& text);
    void updatePlaceholder();
    void showUpdateBanner(const UpdateInfo& info);
    void hideUpdateBanner();
    void animateBannerHeight(int height);

    ContentViewControllerDelegate* m_delegate = nullptr;
    QPointer<QObject> m_delegateObject; // the delegate when it is a QObject
    bool m_delegateIsObject = false;
    bool m_didInitialFocus = false;
    bool m_generating = false; // what the send button does: cancel while true, else generate
    std::optional<QString> m_historyFilter;
    std::function<QDateTime()> m_clock;

    UpdateBannerView* m_updateBanner = nullptr;
    QVariantAnimation* m_bannerAnimation = nullptr;
    WorkspacePage* m_queryScroll = nullptr;
    WorkspacePage* m_historyScroll = nullptr;

    QTextEdit* m_promptTextView = nullptr;
    MRLabel* m_promptPlaceholder = nullptr;
    MRPanel* m_promptCard = nullptr;
    MRButton* m_plusButton = nullptr;
    MRButton* m_sendButton = nullptr;
    MRButton* m_connButton = nullptr;
    MRLabel* m_hintLabel = nullptr;
    MRSpinnerView* m_spinner = nullptr;
    QList<MRSettingChip*> m_chips;
    ElidedLabel* m_statusLabel = nullptr;

    QWidget* m_suggestionsBox = nullptr;
    QList<MRSuggestionRow*> m_suggestionRows;

    QWidget* m_resultsBox = nullptr;
    QTextEdit* m_sqlTextView = nullptr;
    MRPanel* m_sqlCard = nullptr;
    MRButton* m_sqlCopyButton = nullptr;
    MRButton* m_executeButton = nullptr;
    MRSpinnerView* m_runSpinner = nullptr;
    MRLabel* m_resultsStatusLabel = nullptr;
    ResultsGridView* m_resultsGrid = nullptr;
    QTimer* m_runTicker = nullptr;
    QShortcut* m_stopShortcut = nullptr;
    DatabaseExecutor::Ticket m_runTicket = 0; // the statement running, 0 when none
    QElapsedTimer m_runClock;
    bool m_showingRunningStatus = false;

    MRLabel* m_historyHeader = nullptr;
    MRLabel* m_historyEmptyLabel = nullptr;
    QSpacerItem* m_historyGap = nullptr;
    QVBoxLayout* m_historyLayout = nullptr;
    QVBoxLayout* m_historyRowsLayout = nullptr;
    QList<MRHistoryRow*> m_historyRows;
};
