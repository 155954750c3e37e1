#include "workspace/ContentViewController.h"

#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"
#include "ui/MRButton.h"
#include "ui/MRContentFlipped.h"
#include "ui/MRDotGridView.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRSQLTextViewHighlighter.h"
#include "ui/MRSeparatorView.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRStyleKit.h"
#include "ui/MRSuggestionRow.h"
#include "update/UpdateBannerView.h"
#include "update/UpdateManager.h"
#include "workspace/ContentViewControllerDelegate.h"
#include "workspace/ElidedLabel.h"
#include "workspace/QueryHistory.h"
#include "workspace/RelativeTime.h"
#include "workspace/ResultsGridView.h"
#include "workspace/SQLClassifier.h"
#include "workspace/WorkspacePage.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QtMath>
#include <algorithm>

namespace {

constexpr WorkspaceColumnLayout::Metrics kQueryColumn{64, 720, 48, 48};
constexpr WorkspaceColumnLayout::Metrics kHistoryColumn{60, 840, 32, 40};

constexpr qreal kSQLFontSize = 13;
constexpr qreal kSQLLineSpacing = 2;
constexpr int kSQLCardWidthInset = 18;
constexpr int kSQLCardHeightInset = 24;
constexpr int kSQLCardMinMeasureWidth = 80;
constexpr int kSQLCardFallbackWidth = 520;
constexpr int kRunTickMs = 1000;

// The platform's system colours of the setting chips, light and dark.
const MRColor kSystemOrange(QColor(0xFF, 0x95, 0x00), QColor(0xFF, 0x9F, 0x0A));
const MRColor kSystemTeal(QColor(0x30, 0xB0, 0xC7), QColor(0x40, 0xC8, 0xE0));
const MRColor kSystemPurple(QColor(0xAF, 0x52, 0xDE), QColor(0xBF, 0x5A, 0xF2));
const MRColor kSystemPink(QColor(0xFF, 0x2D, 0x55), QColor(0xFF, 0x37, 0x5F));

// A text view whose text keeps a distance from its edges that does not scroll away: the
// SQL is measured at exactly the width it is laid out at.
class WorkspaceTextView final : public QTextEdit
{
public:
    void setTextInsets(const QMargins& insets) { setViewportMargins(insets); }
};

QVBoxLayout* stackLayout(QWidget* owner)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Heights come from the column's width; a minimum taken from a narrower guess would
    // stretch the box past its content.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    return layout;
}

QHBoxLayout* rowLayout(const QMargins& margins = {})
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(margins);
    layout->setSpacing(0);
    return layout;
}

// The server's reason for a refusal as one clause: its first line, without the severity
// that PostgreSQL puts in front or a closing full stop.
QString refusalReason(const QString& message)
{
    QString reason = message.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (reason.startsWith(QLatin1String("ERROR:")))
        reason = reason.mid(6).trimmed();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}

QString hintText()
{
    // The platform's own way of writing the shortcut: Command on macOS, Control elsewhere.
#ifdef Q_OS_MACOS
    return ContentViewController::tr("⌘↩ to generate");
#else
    return ContentViewController::tr("Ctrl+↩ to generate");
#endif
}

} // namespace

QList<ContentViewController::Example> ContentViewController::examples()
{
    return {
        {QStringLiteral("clock"), tr("Show the 10 most recent orders")},
        {QStringLiteral("person.2"), tr("Count users who signed up this month")},
        {QStringLiteral("chart.bar"), tr("Top 5 products by total revenue")},
        {QStringLiteral("magnifyingglass"), tr("Customers with no orders in 90 days")},
    };
}

ContentViewController::ContentViewController(QWidget* parent)
    : MRContentRootView(parent), m_clock([] { return QDateTime::currentDateTime(); })
{
    resize(kInitialWidth, kInitialHeight);
    auto* root = new QGridLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->setRowStretch(1, 1);

    auto* background = new MRDotGridView;
    background->setAttribute(Qt::WA_TransparentForMouseEvents);
    buildUpdateBanner();
    buildQueryPane();
    buildHistoryPane();
    root->addWidget(m_updateBanner, 0, 0);
    root->addWidget(m_queryScroll, 1, 0);
    root->addWidget(m_historyScroll, 1, 0);
    // The backdrop spans the whole pane behind the banner and the pages.
    root->addWidget(background, 0, 0, 2, 1);
    background->lower();

    reloadHistory();
    connectionsChanged();
    setShowingResults(false);
    m_historyScroll->hide();

    // Parts whose text or place the tests of the running application read; the other
    // controls are found by their accessible names.
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_connButton->setObjectName(QStringLiteral("connButton"));
    m_suggestionsBox->setObjectName(QStringLiteral("suggestionsBox"));
    m_resultsStatusLabel->setObjectName(QStringLiteral("resultsStatusLabel"));

    UpdateManager& updates = UpdateManager::shared();
    connect(&updates, &UpdateManager::updateAvailable, this, &ContentViewController::showUpdateBanner);
    if (const std::optional<UpdateInfo> offer = updates.availableUpdate())
        showUpdateBanner(*offer);
}

ContentViewController::~ContentViewController() = default;

ContentViewControllerDelegate* ContentViewController::delegate() const
{
    // A delegate that is a QObject is no longer called once it is gone.
    if (m_delegateIsObject && !m_delegateObject)
        return nullptr;
    return m_delegate;
}

void ContentViewController::setDelegate(ContentViewControllerDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateObject = dynamic_cast<QObject*>(delegate);
    m_delegateIsObject = m_delegateObject != nullptr;
}

void ContentViewController::setClockForTesting(std::function<QDateTime()> clock)
{
    m_clock = clock ? std::move(clock) : [] { return QDateTime::currentDateTime(); };
    reloadHistory();
}

void ContentViewController::buildUpdateBanner()
{
    m_updateBanner = new UpdateBannerView;
    m_updateBanner->setFixedHeight(0);
    m_updateBanner->hide();
    connect(m_updateBanner, &UpdateBannerView::dismissed, this, &ContentViewController::hideUpdateBanner);

    m_bannerAnimation = new QVariantAnimation(this);
    m_bannerAnimation->setDuration(kBannerAnimationMs);
    m_bannerAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_bannerAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_updateBanner->setFixedHeight(value.toInt()); });
    connect(m_bannerAnimation, &QVariantAnimation::finished, this, [this] {
        m_updateBanner->setFixedHeight(m_bannerAnimation->endValue().toInt());
        if (m_bannerAnimation->endValue().toInt() == 0)
            m_updateBanner->hide();
    });
}

QTextEdit* ContentViewController::makeTextViewEditable(bool editable, bool monospace)
{
    auto* view = new WorkspaceTextView;
    view->setAcceptRichText(false);
    view->setUndoRedoEnabled(true);
    view->setReadOnly(!editable);
    view->setTextInteractionFlags(editable ? Qt::TextEditorInteraction
                                           : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setFrameShape(QFrame::NoFrame);
    view->setAutoFillBackground(false);
    view->viewport()->setAutoFillBackground(false);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setLineWrapMode(QTextEdit::WidgetWidth);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setFont(monospace ? MRTheme::monoFont(kSQLFontSize) : MRTheme::uiFont(14.5));
    view->document()->setDocumentMargin(0);
    view->setTextInsets(QMargins(6, 6, 6, 6));
    WorkspacePage::useOverlayScrollBars(view);
    return view;
}

MRSettingChip* ContentViewController::makeChip(const QString& symbol, const QString& label, const MRColor& color,
                                               const QString& name, const QString& detail,
                                               bool (QuerySettings::*get)() const, void (QuerySettings::*set)(bool))
{
    auto* chip = new MRSettingChip(symbol, label, color);
    chip->setSettingName(name);
    chip->setSettingDetail(detail);
    chip->setOn((QuerySettings::shared().*get)());
    connect(chip, &MRSettingChip::toggled, this, [set](bool on) { (QuerySettings::shared().*set)(on); });
    return chip;
}

void ContentViewController::buildQueryPane()
{
    m_queryScroll = new WorkspacePage(kQueryColumn);
    QVBoxLayout* column = stackLayout(m_queryScroll->column());

    // Heading: the sparkle mark centred on the title.
    QHBoxLayout* heading = rowLayout();
    heading->addWidget(MRStyleKit::sparkleViewOfSize(30), 0, Qt::AlignVCenter);
    heading->addSpacing(12);
    heading->addWidget(MRLabel::plainText(tr("Let’s write some SQL"), MRTheme::serifDisplayFont(33, QFont::Bold),
                                          MRTheme::textPrimary()),
                       0, Qt::AlignVCenter);
    heading->addStretch();
    column->addLayout(heading);
    column->addSpacing(10);
    MRLabel* subtitle = MRLabel::plainText(tr("Describe the data you want in plain English — Mirelo writes the query."),
                                           MRTheme::uiFont(13.5), MRTheme::textSecondary());
    subtitle->setWordWrap(true);
    column->addWidget(subtitle);
    column->addSpacing(22);

    // Prompt card: the editor above, the plus and send buttons along the bottom edge.
    m_promptCard = new MRPanel;
    m_promptCard->setElevated(true);
    m_promptCard->setFixedHeight(kPromptCardHeight);
    auto* card = new QVBoxLayout(m_promptCard);
    card->setContentsMargins(10, 8, 10, 10);
    // The send button is 2 points taller than the plus button; both sit on the bottom
    // edge, so the editor ends 6 points above the plus button.
    card->setSpacing(4);
    m_promptTextView = makeTextViewEditable(true, false);
    m_promptTextView->setAccessibleName(tr("Prompt"));
    card->addWidget(m_promptTextView, 1);
    QHBoxLayout* buttons = rowLayout();
    m_plusButton = MRStyleKit::iconButtonWithSymbol(QStringLiteral("plus"), tr("Insert an example"), this,
                                                    [this] { showExamplesMenu(); });
    m_plusButton->setFixedSize(30, 30);
    buttons->addWidget(m_plusButton, 0, Qt::AlignBottom);
    buttons->addStretch();
    m_sendButton = MRStyleKit::sendButtonWithTarget(this, [this] { sendClicked(); });
    buttons->addWidget(m_sendButton, 0, Qt::AlignBottom);
    card->addLayout(buttons);
    m_promptPlaceholder =
        MRLabel::plainText(tr("How can I help you query your data?"), MRTheme::uiFont(14.5), MRTheme::textTertiary());
    m_promptPlaceholder->setParent(m_promptCard);
    m_promptPlaceholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_promptPlaceholder->adjustSize();
    m_promptPlaceholder->move(15, 14);
    m_promptPlaceholder->raise();
    connect(m_promptTextView, &QTextEdit::textChanged, this, &ContentViewController::updatePlaceholder);
    // Command-Return on macOS, Control-Return elsewhere, is the send button's key: it does
    // whatever the button does now, so while generating it cancels. Return alone stays a
    // line break in the prompt. The shortcuts belong to the button, so they rest while the
    // query page is hidden.
    const QList<QKeySequence> keys{
        QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter),
        QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Enter))};
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, m_sendButton);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, m_sendButton, &QAbstractButton::click);
    }
    column->addWidget(m_promptCard);
    column->addSpacing(10);

    // Run line: the connection on the left, the shortcut hint on the right.
    QHBoxLayout* runLine = rowLayout(QMargins(0, 0, 2, 0));
    m_connButton = MRStyleKit::ghostButtonWithTitle(tr("No database"), this, [this] { showConnectionMenu(); });
    m_connButton->setImage(MRStyleKit::symbol(QStringLiteral("chevron.down"), 9, QFont::DemiBold));
    m_connButton->setImageTint(MRTheme::textTertiary());
    m_connButton->setImageTrailing(true);
    m_connButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    runLine->addWidget(m_connButton, 0, Qt::AlignVCenter);
    runLine->addStretch();
    m_spinner = new MRSpinnerView;
    runLine->addWidget(m_spinner, 0, Qt::AlignVCenter);
    runLine->addSpacing(8);
    m_hintLabel = MRLabel::plainText(hintText(), MRTheme::uiFont(11.5), MRTheme::textTertiary());
    runLine->addWidget(m_hintLabel, 0, Qt::AlignVCenter);
    column->addLayout(runLine);
    column->addSpacing(10);

    // The four generation settings.
    QHBoxLayout* chips = rowLayout();
    chips->setSpacing(8);
    m_chips = {
        makeChip(QStringLiteral("exclamationmark.triangle.fill"), tr("Writes"), kSystemOrange,
                 tr("Destructive Commands"), tr("Allow INSERT, UPDATE & DELETE"), &QuerySettings::allowDestructive,
                 &QuerySettings::setAllowDestructive),
        makeChip(QStringLiteral("arrow.triangle.2.circlepath"), tr("Auto-fix"), kSystemTeal, tr("AI Self-Correction"),
                 tr("Auto-correct invalid SQL (extra AI call)"), &QuerySettings::selfCorrection,
                 &QuerySettings::setSelfCorrection),
        makeChip(QStringLiteral("checkmark.shield"), tr("My data"), kSystemPurple, tr("User Data Isolation"),
                 tr("Restrict queries to the current user"), &QuerySettings::dataIsolation,
                 &QuerySettings::setDataIsolation),
        makeChip(QStringLiteral("tablecells"), tr("Single"), kSystemPink, tr("Single Results Mode"),
                 tr("Simple single-table answers, no UNION"), &QuerySettings::singularResults,
                 &QuerySettings::setSingularResults),
    };
    for (MRSettingChip* chip : std::as_const(m_chips))
        chips->addWidget(chip);
    chips->addStretch();
    column->addLayout(chips);
    column->addSpacing(10);

    m_statusLabel = new ElidedLabel;
    m_statusLabel->setFont(MRTheme::uiFont(12));
    m_statusLabel->setTextColor(MRTheme::textSecondary());
    column->addWidget(m_statusLabel);
    column->addSpacing(16);
    setGenerating(false);

    // Only one of the two boxes shows; the page ends under that one.
    column->addWidget(buildSuggestionsBox());
    column->addWidget(buildResultsBox());
}

QWidget* ContentViewController::buildSuggestionsBox()
{
    m_suggestionsBox = new QWidget;
    QVBoxLayout* box = stackLayout(m_suggestionsBox);

    // The symbol only decorates the header: nothing shuffles.
    QHBoxLayout* header = rowLayout(QMargins(8, 0, 0, 0));
    auto* shuffle = new MRImageView;
    shuffle->setImage(MRStyleKit::symbol(QStringLiteral("shuffle"), 12, QFont::Normal));
    shuffle->setTint(MRTheme::textTertiary());
    header->addWidget(shuffle, 0, Qt::AlignVCenter);
    header->addSpacing(8);
    header->addWidget(MRLabel::plainText(tr("Try one of these"), MRTheme::uiFont(12.5), MRTheme::textTertiary()), 0,
                      Qt::AlignVCenter);
    header->addStretch();
    box->addLayout(header);
    box->addSpacing(8);

    const QList<Example> list = examples();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0) {
            QHBoxLayout* separator = rowLayout(QMargins(8, 0, 8, 0));
            separator->addWidget(new MRSeparatorView);
            box->addLayout(separator);
        }
        auto* row = new MRSuggestionRow(list.at(i).icon, list.at(i).text);
        const QString text = list.at(i).text;
        connect(row, &MRRowView::clicked, this, [this, text] { runExample(text); });
        m_suggestionRows.append(row);
        box->addWidget(row);
    }
    return m_suggestionsBox;
}

QWidget* ContentViewController::buildResultsBox()
{
    m_resultsBox = new QWidget;
    QVBoxLayout* box = stackLayout(m_resultsBox);

    QHBoxLayout* header = rowLayout();
    header->addWidget(MRStyleKit::sectionHeader(tr("Generated SQL")), 0, Qt::AlignVCenter);
    header->addStretch();
    m_runSpinner = new MRSpinnerView;
    header->addWidget(m_runSpinner, 0, Qt::AlignVCenter);
    header->addSpacing(10);
    m_sqlCopyButton = MRStyleKit::ghostButtonWithTitle(tr("Copy"), this, [this] { copyClicked(); });
    m_sqlCopyButton->setEnabled(false);
    header->addWidget(m_sqlCopyButton, 0, Qt::AlignVCenter);
    header->addSpacing(8);
    m_executeButton = MRStyleKit::primaryButtonWithTitle(tr("Execute"), this, [this] { executeOrStopClicked(); });
    // As Stop it keeps Execute's width, so the buttons beside it stay where they are.
    m_executeButton->setMinimumWidth(m_executeButton->sizeHint().width());
    header->addWidget(m_executeButton, 0, Qt::AlignTop);
    box->addLayout(header);
    box->addSpacing(12);

    m_sqlCard = new MRPanel;
    m_sqlCard->setCornerRadius(MRTheme::cardRadius());
    m_sqlCard->setFixedHeight(64);
    auto* card = new QVBoxLayout(m_sqlCard);
    card->setContentsMargins(8, 6, 8, 6);
    m_sqlTextView = makeTextViewEditable(false, true);
    m_sqlTextView->setAccessibleName(tr("Generated SQL"));
    // Laid out at the card's width less 18, the width the card's height is measured at.
    static_cast<WorkspaceTextView*>(m_sqlTextView)->setTextInsets(QMargins(1, 6, 1, 6));
    card->addWidget(m_sqlTextView);
    m_sqlCard->installEventFilter(this);
    box->addWidget(m_sqlCard);
    box->addSpacing(12);

    m_resultsStatusLabel = MRLabel::plainText(QString(), MRTheme::uiFont(11.5), MRTheme::textSecondary());
    m_resultsStatusLabel->setWordWrap(true);
    m_resultsStatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // One line high while empty, as a label is.
    m_resultsStatusLabel->setMinimumHeight(m_resultsStatusLabel->fontMetrics().height());
    box->addWidget(m_resultsStatusLabel);
    box->addSpacing(8);

    m_resultsGrid = new ResultsGridView;
    box->addWidget(m_resultsGrid);

    m_runTicker = new QTimer(this);
    m_runTicker->setInterval(kRunTickMs);
    connect(m_runTicker, &QTimer::timeout, this, &ContentViewController::showRunningTime);

    // Escape stops the running statement while the keyboard is anywhere in the workspace;
    // at rest it is left to whatever else uses it.
    m_stopShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_stopShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    m_stopShortcut->setEnabled(false);
    connect(m_stopShortcut, &QShortcut::activated, this, &ContentViewController::stopQuery);
    return m_resultsBox;
}

void ContentViewController::buildHistoryPane()
{
    m_historyScroll = new WorkspacePage(kHistoryColumn);
    m_historyLayout = stackLayout(m_historyScroll->column());

    QHBoxLayout* header = rowLayout(QMargins(14, 0, 0, 0));
    m_historyHeader =
        MRLabel::plainText(tr("History"), MRTheme::serifDisplayFont(22, QFont::Bold), MRTheme::textPrimary());
    header->addWidget(m_historyHeader);
    header->addStretch();
    m_historyLayout->addLayout(header);
    m_historyGap = new QSpacerItem(0, 16, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_historyLayout->addSpacerItem(m_historyGap);

    QHBoxLayout* empty = rowLayout(QMargins(14, 0, 0, 0));
    m_historyEmptyLabel = MRLabel::plainText(tr("No history yet — generate a query to get started."),
                                             MRTheme::uiFont(13), MRTheme::textTertiary());
    m_historyEmptyLabel->setWordWrap(true);
    empty->addWidget(m_historyEmptyLabel, 1);
    m_historyLayout->addLayout(empty);

    m_historyRowsLayout = new QVBoxLayout;
    m_historyRowsLayout->setContentsMargins(0, 0, 0, 0);
    m_historyRowsLayout->setSpacing(0);
    m_historyLayout->addLayout(m_historyRowsLayout);
    m_historyLayout->addSpacing(8);
}

QWidget* ContentViewController::historyColumn() const
{
    return m_historyScroll->column();
}

void ContentViewController::showMainView(MainView view)
{
    const bool history = view == MainView::History;
    m_historyScroll->setVisible(history);
    m_queryScroll->setVisible(!history);
    if (history)
        reloadHistory();
}

ContentViewController::MainView ContentViewController::mainView() const
{
    return m_historyScroll->isHidden() ? MainView::Query : MainView::History;
}

void ContentViewController::reloadHistory()
{
    for (MRHistoryRow* row : std::as_const(m_historyRows)) {
        m_historyRowsLayout->removeWidget(row);
        row->hide();
        // A row may be the one whose click led here.
        row->deleteLater();
    }
    m_historyRows.clear();

    const double now = double(m_clock().toMSecsSinceEpoch()) / 1000.0;
    const QList<QueryRecord> records = QueryHistory::shared().records();
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QueryRecord& record = records.at(i);
        if (m_historyFilter && !record.prompt.contains(*m_historyFilter, Qt::CaseInsensitive) &&
            !record.sql.contains(*m_historyFilter, Qt::CaseInsensitive))
            continue;
        auto* row = new MRHistoryRow(record.prompt, record.sql, RelativeTime::text(record.timestamp, now));
        // The index in the whole history, not in the filtered list.
        connect(row, &MRRowView::clicked, this, [this, i] { loadHistoryRecordAtIndex(i); });
        m_historyRowsLayout->addWidget(row);
        m_historyRows.append(row);
    }
    const bool empty = m_historyRows.isEmpty();
    m_historyEmptyLabel->setVisible(empty);
    m_historyGap->changeSize(0, empty ? 16 : 14, QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_historyLayout->invalidate();
}

void ContentViewController::filterHistory(const QString& filter)
{
    m_historyFilter = filter.isEmpty() ? std::nullopt : std::optional<QString>(filter);
    reloadHistory();
}

void ContentViewController::loadHistoryRecordAtIndex(qsizetype index)
{
    const QList<QueryRecord> records = QueryHistory::shared().records();
    if (index < 0 || index >= records.size())
        return;
    const QueryRecord record = records.at(index);
    setPromptText(record.prompt);
    displaySQL(record.sql);
    m_sqlCopyButton->setEnabled(!record.sql.isEmpty());
    m_resultsGrid->setResult(nullptr);
    setResultsStatus(QString(), false);
    setStatus(QString(), false);
    updatePlaceholder();
    setShowingResults(!record.sql.isEmpty());
    showMainView(MainView::Query);
}

void ContentViewController::startNewQuery()
{
    m_promptTextView->clear();
    displaySQL(QString());
    m_resultsGrid->setResult(nullptr);
    m_sqlCopyButton->setEnabled(false);
    setStatus(QString(), false);
    updatePlaceholder();
    setShowingResults(false);
    showMainView(MainView::Query);
    focusPrompt();
}

void ContentViewController::focusPrompt()
{
    m_promptTextView->setFocus(Qt::OtherFocusReason);
}

void ContentViewController::showEvent(QShowEvent* event)
{
    MRContentRootView::showEvent(event);
    if (!m_didInitialFocus) {
        m_didInitialFocus = true;
        focusPrompt();
    }
}

void ContentViewController::sendClicked()
{
    if (m_generating)
        cancelGenerate();
    else
        generateClicked();
}

void ContentViewController::generateClicked()
{
    const QString prompt = m_promptTextView->toPlainText().trimmed();
    if (prompt.isEmpty()) {
        setStatus(tr("Enter a prompt to generate SQL."), true);
        focusPrompt();
        return;
    }
    setGenerating(true);
    setStatus(tr("Generating SQL…"), false);
    QPointer<ContentViewController> self(this);
    APIManager::shared().searchWithPrompt(prompt,
                                          [self, prompt](const std::optional<QString>& sql, const QString& error) {
                                              if (self)
                                                  self->generationFinished(prompt, sql, error);
                                          });
}

void ContentViewController::generationFinished(const QString& prompt, const std::optional<QString>& sql,
                                               const QString& error)
{
    setGenerating(false);
    if (sql) {
        displaySQL(*sql);
        m_sqlCopyButton->setEnabled(!sql->isEmpty());
        setStatus(tr("SQL generated. Review it, then Execute."), false);
        m_resultsGrid->setResult(nullptr);
        setResultsStatus(QString(), false);
        setShowingResults(true);
        // The only place the history is written: running a statement never adds to it.
        QueryHistory::shared().addRecord(QueryRecord::make(prompt, *sql));
        if (ContentViewControllerDelegate* owner = delegate())
            owner->contentDidAddHistoryRecord();
        reloadHistory();
    } else if (!error.isEmpty()) {
        setStatus(error, true);
    }
}

void ContentViewController::cancelGenerate()
{
    APIManager::shared().cancelPendingRequests();
    setGenerating(false);
    setStatus(tr("Generation cancelled."), false);
}

void ContentViewController::setGenerating(bool generating)
{
    m_generating = generating;
    if (generating) {
        m_sendButton->setImage(MRStyleKit::symbol(QStringLiteral("stop.fill"), 13, QFont::Bold));
        m_sendButton->setToolTip(tr("Stop generating"));
        m_sendButton->setAccessibleName(tr("Stop"));
        m_spinner->startAnimation();
    } else {
        m_sendButton->setImage(MRStyleKit::symbol(QStringLiteral("arrow.up"), 15, QFont::Bold));
        // An icon-only button needs a name on hover, too.
        m_sendButton->setToolTip(tr("Send"));
        m_sendButton->setAccessibleName(tr("Send"));
        m_spinner->stopAnimation();
    }
    m_promptTextView->setReadOnly(generating);
}

void ContentViewController::setStatus(const QString& text, bool error)
{
    m_statusLabel->setText(text);
    m_statusLabel->setTextColor(error ? MRTheme::danger() : MRTheme::textSecondary());
}

void ContentViewController::setResultsStatus(const QString& text, bool error)
{
    m_showingRunningStatus = false;
    // Client libraries end their messages with a line break, which would only add a blank
    // line, and indent hints with tabs, which a label widens to its tab stops.
    QString shown = text;
    while (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    shown.replace(QLatin1Char('\t'), QStringLiteral("    "));
    m_resultsStatusLabel->setText(shown);
    m_resultsStatusLabel->setTextColor(error ? MRTheme::danger() : MRTheme::textSecondary());
}

void ContentViewController::setPromptText(const QString& text)
{
    m_promptTextView->setPlainText(text);
    // Typing goes on where the text ends.
    m_promptTextView->moveCursor(QTextCursor::End);
}

void ContentViewController::updatePlaceholder()
{
    m_promptPlaceholder->setVisible(m_promptTextView->document()->isEmpty());
}

void ContentViewController::displaySQL(const QString& sql)
{
    m_sqlTextView->setPlainText(sql);
    if (!sql.isEmpty())
        MRSQLTextViewHighlighter::highlightTextView(m_sqlTextView, kSQLFontSize);
    adjustSQLCardHeight();
}

int ContentViewController::sqlCardHeightForText(const QString& sql, int cardWidth)
{
    int width = cardWidth - kSQLCardWidthInset;
    if (width < kSQLCardMinMeasureWidth)
        width = kSQLCardFallbackWidth;
    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(MRTheme::monoFont(kSQLFontSize));
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    QTextCursor cursor(&document);
    QTextBlockFormat block;
    block.setLineHeight(kSQLLineSpacing, QTextBlockFormat::LineDistanceHeight);
    cursor.setBlockFormat(block);
    cursor.insertText(sql.isEmpty() ? QStringLiteral(" ") : sql);
    document.setTextWidth(width);
    const int height = qCeil(document.size().height()) + kSQLCardHeightInset;
    return std::clamp(height, kSQLCardMinHeight, kSQLCardMaxHeight);
}

void ContentViewController::adjustSQLCardHeight()
{
    m_sqlCard->setFixedHeight(sqlCardHeightForText(m_sqlTextView->toPlainText(), m_sqlCard->width()));
}

bool ContentViewController::eventFilter(QObject* watched, QEvent* event)
{
    // The card follows its width: a narrower pane wraps the statement onto more lines.
    if (watched == m_sqlCard && event->type() == QEvent::Resize && !m_sqlTextView->document()->isEmpty())
        adjustSQLCardHeight();
    return MRContentRootView::eventFilter(watched, event);
}

void ContentViewController::setShowingResults(bool showing)
{
    m_resultsBox->setVisible(showing);
    m_suggestionsBox->setVisible(!showing);
}

void ContentViewController::copyClicked()
{
    const QString text = m_sqlTextView->toPlainText();
    if (text.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text);
    m_sqlCopyButton->setStyledTitle(MRStyleKit::titleString(tr("Copied!"), MRTheme::success(), QFont::Medium, 12.5));
    // Each click restores the title on its own schedule.
    QTimer::singleShot(kCopiedMs, this, [this] {
        m_sqlCopyButton->setStyledTitle(
            MRStyleKit::titleString(tr("Copy"), MRTheme::textPrimary(), QFont::Medium, 12.5));
    });
}

void ContentViewController::executeOrStopClicked()
{
    if (isRunningQuery())
        stopQuery();
    else
        executeClicked();
}

void ContentViewController::executeClicked()
{
    const QString sql = m_sqlTextView->toPlainText().trimmed();
    if (sql.isEmpty()) {
        setResultsStatus(tr("Generate SQL first."), true);
        return;
    }
    const std::optional<DatabaseConnection> connection = ConnectionManager::shared().activeConnection();
    if (!connection) {
        setResultsStatus(tr("Select a database connection first."), true);
        return;
    }
    if (!DatabaseExecutor::isAvailableForType(connection->type)) {
        auto* alert = new QMessageBox(QMessageBox::Warning, tr("Driver Not Found"), tr("Driver Not Found"),
                                      QMessageBox::Ok, this);
        alert->setObjectName(QStringLiteral("driverNotFoundAlert"));
        alert->setInformativeText(DatabaseExecutor::installInstructionsForType(connection->type));
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
        return;
    }
    // What the check lets through runs read-only: the server itself stops what the
    // heuristic misses, and the question comes when it does.
    if (!SQLClassifier::isDestructive(sql)) {
        runQuery(sql, *connection, true);
        return;
    }
    confirmDestructive(sql, *connection);
}

void ContentViewController::confirmDestructive(const QString& sql, const DatabaseConnection& connection,
                                               const QString& refusal)
{
    auto* alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("confirmRunAlert"));
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(tr("Run this statement?"));
    alert->setText(tr("Run this statement?"));
    QString informative = tr("This query looks like it modifies data or schema (INSERT, UPDATE, DELETE, DROP, "
                             "…). That can’t be undone.");
    if (!refusal.isNull()) {
        const QString reason = refusalReason(refusal);
        informative += QStringLiteral("\n\n") + (reason.isEmpty()
                                                     ? tr("The server refused to run it read-only.")
                                                     : tr("The server refused to run it read-only: “%1”.").arg(reason));
    }
    alert->setInformativeText(informative);
    QPushButton* run = alert->addButton(tr("Run Query"), QMessageBox::AcceptRole);
    QPushButton* cancel = alert->addButton(tr("Cancel"), QMessageBox::RejectRole);
    alert->setDefaultButton(run);
    alert->setEscapeButton(cancel);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    // The statement and the connection are the ones of this press, whatever changes while
    // the question is up.
    const bool refused = !refusal.isNull();
    connect(alert, &QMessageBox::finished, this, [this, alert, run, sql, connection, refused] {
        if (alert->clickedButton() == run)
            runQuery(sql, connection, false);
        else if (refused)
            setResultsStatus(tr("The statement was not run."), false);
    });
    alert->open();
}

void ContentViewController::runQuery(const QString& sql, const DatabaseConnection& connection, bool readOnly)
{
    setResultsStatus(tr("Running query…"), false);
    m_showingRunningStatus = true;
    m_runClock.start();
    m_runTicker->start();
    DatabaseExecutor::QueryOptions options;
    options.readOnly = readOnly;
    m_runTicket = DatabaseExecutor::shared().executeQuery(
        sql, connection, options, this,
        [this, sql, connection, readOnly](const QueryResultPtr& result, const QueryError& error) {
            queryFinished(sql, connection, readOnly, result, error);
        });
    setRunning(true);
}

void ContentViewController::stopQuery()
{
    // The outcome decides what is shown: a statement that finished before the stop
    // reached it keeps its result.
    if (isRunningQuery())
        DatabaseExecutor::shared().cancel(m_runTicket);
}

void ContentViewController::setRunning(bool running)
{
    m_stopShortcut->setEnabled(running);
    if (running) {
        m_executeButton->setImage(MRStyleKit::symbol(QStringLiteral("stop.fill"), 10, QFont::Bold));
        m_executeButton->setImageTint(MRTheme::onAccent());
        m_executeButton->setStyledTitle(MRStyleKit::titleString(tr("Stop"), MRTheme::onAccent(), QFont::DemiBold, 13));
        m_executeButton->setToolTip(tr("Stop"));
        m_executeButton->setAccessibleName(tr("Stop"));
        m_runSpinner->startAnimation();
    } else {
        m_executeButton->setImage(MRIcon());
        m_executeButton->setStyledTitle(
            MRStyleKit::titleString(tr("Execute"), MRTheme::onAccent(), QFont::DemiBold, 13));
        m_executeButton->setToolTip(QString());
        m_executeButton->setAccessibleName(QString());
        m_runSpinner->stopAnimation();
        m_runTicker->stop();
    }
}

void ContentViewController::showRunningTime()
{
    if (!m_showingRunningStatus)
        return;
    const qint64 seconds = m_runClock.elapsed() / 1000;
    if (seconds >= 1) {
        setResultsStatus(tr("Running query… %1 s").arg(seconds), false);
        m_showingRunningStatus = true;
    }
}

void ContentViewController::queryFinished(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                                          const QueryResultPtr& result, const QueryError& error)
{
    m_runTicket = 0;
    setRunning(false);
    m_showingRunningStatus = false;
    // The answer to the user's own Stop, whatever statement is under review now.
    if (!result && error.kind == QueryError::Kind::Cancelled) {
        m_resultsGrid->setResult(nullptr);
        setResultsStatus(tr("Query cancelled."), false);
        return;
    }
    // Another statement has been put under review while this one ran: its result would
    // read as that statement's, so it is not shown.
    if (m_sqlTextView->toPlainText().trimmed() != sql)
        return;
    if (result) {
        m_resultsGrid->setResult(result, {sql, connection});
        setResultsStatus(result->statusMessage.isEmpty() ? tr("Done.") : result->statusMessage, false);
        return;
    }
    m_resultsGrid->setResult(nullptr);
    if (readOnly && error.kind == QueryError::Kind::RefusedAsWrite) {
        // Not a failure yet: the question decides.
        setResultsStatus(QString(), false);
        confirmDestructive(sql, connection, error.message);
        return;
    }
    setResultsStatus(error.message.isEmpty() ? tr("Query failed.") : error.message, true);
}

void ContentViewController::showExamplesMenu()
{
    auto* menu = new QMenu(this);
    for (const Example& example : examples()) {
        QAction* item = menu->addAction(example.text);
        item->setData(example.text);
        const QString text = example.text;
        connect(item, &QAction::triggered, this, [this, text] { insertExample(text); });
    }
    // Hidden before its item runs; gone once the item has run.
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(m_plusButton->mapToGlobal(QPoint(0, m_plusButton->height() + 4)));
}

void ContentViewController::insertExample(const QString& prompt)
{
    setPromptText(prompt);
    updatePlaceholder();
    focusPrompt();
}

void ContentViewController::runExample(const QString& prompt)
{
    setPromptText(prompt);
    updatePlaceholder();
    generateClicked();
}

void ContentViewController::showConnectionMenu()
{
    QMenu* menu = MRStyleKit::connectionMenuForTarget(
        this,
        [this](QAction* item) {
            if (ContentViewControllerDelegate* owner = delegate()) {
                const QVariant id = item->data();
                owner->contentDidSelectConnectionId(id.isValid() ? std::optional<QString>(id.toString())
                                                                 : std::nullopt);
            }
        },
        [this] {
            if (ContentViewControllerDelegate* owner = delegate())
                owner->contentDidRequestManageConnections();
        },
        false, this);
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(m_connButton->mapToGlobal(QPoint(0, m_connButton->height() + 4)));
}

void ContentViewController::connectionsChanged()
{
    const std::optional<DatabaseConnection> active = ConnectionManager::shared().activeConnection();
    QList<MRStyledText> title{
        MRStyleKit::titleString(tr("Run against · "), MRTheme::textTertiary(), QFont::Medium, 12)};
    if (active) {
        title.append(MRStyleKit::titleString(active->name.isEmpty() ? tr("(unnamed)") : active->name,
                                             MRTheme::textPrimary(), QFont::DemiBold, 12));
    } else {
        title.append(MRStyleKit::titleString(tr("No database"), MRTheme::textSecondary(), QFont::DemiBold, 12));
    }
    m_connButton->setStyledTitle(title);
}

void ContentViewController::showUpdateBanner(const UpdateInfo& info)
{
    m_updateBanner->presentUpdate(info);
    m_updateBanner->show();
    animateBannerHeight(kBannerHeight);
}

void ContentViewController::hideUpdateBanner()
{
    animateBannerHeight(0);
}

void ContentViewController::animateBannerHeight(int height)
{
    m_bannerAnimation->stop();
    m_bannerAnimation->setStartValue(m_updateBanner->height());
    m_bannerAnimation->setEndValue(height);
    m_bannerAnimation->start();
}
