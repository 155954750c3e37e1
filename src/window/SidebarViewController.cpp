#include "window/SidebarViewController.h"

#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRClickRow.h"
#include "ui/MRFlippedView.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPill.h"
#include "ui/MRSeparatorView.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"
#include "workspace/QueryHistory.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int kInitialWidth = 260;
constexpr int kInitialHeight = 600;
constexpr int kInset = 10;
constexpr int kPillTop = 8;
constexpr int kPillHeight = 30;
constexpr int kRowHeight = 32;
constexpr int kPillGap = 12;
constexpr int kRowGap = 2;
constexpr int kRecentsGap = 18;
constexpr int kHeaderHeight = 22;
constexpr int kOptionsSize = 24;
constexpr int kOptionsRight = 12;
constexpr int kOptionsGap = 4;
constexpr int kChevronWidth = 12;
constexpr int kChevronGap = 3;
constexpr int kScrollGap = 6;
constexpr int kScrollInset = 8;
constexpr int kScrollBottomGap = 8;
constexpr int kEmptyLabelTop = 4;
constexpr int kEmptyLabelLeft = 19;
constexpr int kSeparatorGap = 6;
constexpr int kBottomGap = 8;
constexpr int kRecentInset = 2;
constexpr int kRecentBottom = 4;
constexpr int kMenuDrop = 4;

MRIcon chevron(bool collapsed)
{
    return MRStyleKit::symbol(collapsed ? QStringLiteral("chevron.right") : QStringLiteral("chevron.down"), 10,
                              QFont::DemiBold);
}

} // namespace

SidebarViewController::SidebarViewController(QWidget* parent) : QWidget(parent)
{
    resize(kInitialWidth, kInitialHeight);
    buildLayout();
    m_recentsCollapsed = QSettings().value(QLatin1String(kRecentsCollapsedKey), false).toBool();
    applyRecentsCollapsed(false);
    reloadRecents();
    reloadConnections();
}

void SidebarViewController::buildLayout()
{
    m_pill = new MRPill({tr("Query"), tr("History")}, this);
    connect(m_pill, &MRPill::selectionChanged, this, [this](int index) {
        if (m_delegate)
            m_delegate->sidebarDidSelectView(index);
    });

    m_primaryRow = new MRSidebarRow(QStringLiteral("plus"), tr("New query"), this);
    m_primaryRow->setSelectedLook(true);
    connect(m_primaryRow, &MRRowView::clicked, this, [this] {
        m_pill->setSelectedIndex(0);
        if (m_delegate)
            m_delegate->sidebarDidSelectView(0);
        if (m_delegate)
            m_delegate->sidebarDidStartNewQuery();
    });

    m_databasesRow = new MRSidebarRow(QStringLiteral("cylinder.split.1x2"), tr("Databases"), this);
    connect(m_databasesRow, &MRRowView::clicked, this, [this] {
        if (m_delegate)
            m_delegate->sidebarDidRequestManageConnections();
    });

    m_recentsHeader = new MRClickRow(this);
    m_recentsHeader->setFixedHeight(kHeaderHeight);
    m_recentsHeader->setRowAccessibilityLabel(tr("Recents"));
    auto* headerLayout = new QHBoxLayout(m_recentsHeader);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(kChevronGap);
    m_recentsChevron = new MRImageView;
    m_recentsChevron->setTint(MRTheme::textTertiary());
    m_recentsChevron->setFixedSize(kChevronWidth, kHeaderHeight);
    headerLayout->addWidget(m_recentsChevron);
    m_recentsTitle = MRStyleKit::sectionHeader(tr("Recents"));
    m_recentsTitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_recentsTitle->setMinimumWidth(0);
    headerLayout->addWidget(m_recentsTitle, 1);
    connect(m_recentsHeader, &MRRowView::clicked, this, &SidebarViewController::toggleRecents);

    m_optionsButton = MRStyleKit::iconButtonWithSymbol(QStringLiteral("slider.horizontal.3"), tr("History options"),
                                                       this, [this] { showRecentsMenu(); });
    m_optionsButton->setParent(this);
    m_optionsButton->setFixedSize(kOptionsSize, kOptionsSize);

    m_recentsScroll = new QScrollArea(this);
    m_recentsScroll->setFrameShape(QFrame::NoFrame);
    m_recentsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_recentsScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_recentsScroll->setWidgetResizable(true);
    m_recentsScroll->setAutoFillBackground(false);
    m_recentsScroll->viewport()->setAutoFillBackground(false);
    m_recentsContainer = new MRFlippedView;
    m_recentsLayout = new QVBoxLayout(m_recentsContainer);
    m_recentsLayout->setContentsMargins(kRecentInset, kRecentInset, kRecentInset, kRecentBottom);
    m_recentsLayout->setSpacing(kRowGap);
    m_recentsLayout->addStretch(1);
    m_recentsScroll->setWidget(m_recentsContainer);
    // After setWidget(), which turns the filling on: the sidebar shows through the list.
    m_recentsContainer->setAutoFillBackground(false);

    m_emptyRecentsLabel = new MRLabel(tr("No recent queries"), this);
    m_emptyRecentsLabel->setFont(MRTheme::uiFont(12));
    m_emptyRecentsLabel->setTextColor(MRTheme::textTertiary());

    m_separator = new MRSeparatorView(this);

    m_connectionRow = new MRSidebarRow(QString(), tr("No database"), this);
    m_connectionRow->setTrailingSymbol(QStringLiteral("chevron.up.chevron.down"));
    connect(m_connectionRow, &MRRowView::clicked, this, [this] { showConnectionMenu(); });

    m_recentsAnimation = new QVariantAnimation(this);
    m_recentsAnimation->setDuration(kAnimationMs);
    m_recentsAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_recentsAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_recentsShown = value.toReal();
        layoutParts();
    });
    connect(m_recentsAnimation, &QVariantAnimation::finished, this, [this] {
        m_recentsScroll->setVisible(!m_recentsCollapsed);
        layoutParts();
    });

    layoutParts();
}

QSize SidebarViewController::sizeHint() const
{
    return {kInitialWidth, kInitialHeight};
}

QSize SidebarViewController::minimumSizeHint() const
{
    // The fixed rows above the recents and the picker below them.
    const int top = kPillTop + kPillHeight + kPillGap + 2 * kRowHeight + kRowGap + kRecentsGap + kHeaderHeight;
    const int bottom = kScrollGap + kScrollBottomGap + 1 + kSeparatorGap + kRowHeight + kBottomGap;
    return {160, top + bottom};
}

void SidebarViewController::layoutParts()
{
    const int w = width();
    const int h = height();
    const int rowWidth = w - 2 * kInset;

    m_pill->setGeometry(kInset, kPillTop, rowWidth, kPillHeight);
    const int primaryTop = kPillTop + kPillHeight + kPillGap;
    m_primaryRow->setGeometry(kInset, primaryTop, rowWidth, kRowHeight);
    const int databasesTop = primaryTop + kRowHeight + kRowGap;
    m_databasesRow->setGeometry(kInset, databasesTop, rowWidth, kRowHeight);

    const int headerTop = databasesTop + kRowHeight + kRecentsGap;
    const int optionsLeft = w - kOptionsRight - kOptionsSize;
    m_optionsButton->move(optionsLeft, headerTop + (kHeaderHeight - kOptionsSize) / 2);
    m_recentsHeader->setGeometry(kInset, headerTop, qMax(0, optionsLeft - kOptionsGap - kInset), kHeaderHeight);

    const int connectionTop = h - kBottomGap - kRowHeight;
    m_connectionRow->setGeometry(kInset, connectionTop, rowWidth, kRowHeight);
    const int separatorTop = connectionTop - kSeparatorGap - 1;
    m_separator->setGeometry(kInset, separatorTop, rowWidth, 1);

    const int scrollTop = headerTop + kHeaderHeight + kScrollGap;
    const int fullHeight = qMax(0, separatorTop - kScrollBottomGap - scrollTop);
    m_recentsScroll->setGeometry(kScrollInset, scrollTop, w - 2 * kScrollInset, qRound(fullHeight * m_recentsShown));
    const QSize empty = m_emptyRecentsLabel->sizeHint();
    m_emptyRecentsLabel->setGeometry(kEmptyLabelLeft, scrollTop + kEmptyLabelTop,
                                     qMin(empty.width(), qMax(0, w - kEmptyLabelLeft - kInset)), empty.height());
}

void SidebarViewController::resizeEvent(QResizeEvent* event)
{
    layoutParts();
    QWidget::resizeEvent(event);
}

void SidebarViewController::paintEvent(QPaintEvent*)
{
    // The desktop has no translucent sidebar material; the palette's own sidebar tone sets
    // the pane apart from the workspace instead.
    QPainter painter(this);
    painter.fillRect(rect(), MRWidgetTheme::resolve(MRTheme::sidebarBackground(), this));
}

void SidebarViewController::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

void SidebarViewController::reloadRecents()
{
    for (MRSidebarRow* row : std::as_const(m_recentRows)) {
        // Later, as the row may be the one whose click led here.
        row->hide();
        m_recentsLayout->removeWidget(row);
        row->deleteLater();
    }
    m_recentRows.clear();

    const QList<QueryRecord> records = QueryHistory::shared().records();
    for (int i = 0; i < records.size(); ++i) {
        const QString& prompt = records.at(i).prompt;
        if (m_searchFilter && !prompt.contains(*m_searchFilter, Qt::CaseInsensitive))
            continue;
        const QString trimmed = prompt.trimmed();
        auto* row = new MRSidebarRow(QString(), trimmed.isEmpty() ? tr("(empty prompt)") : trimmed, m_recentsContainer);
        row->setDotColor(m_recentRows.isEmpty() ? MRTheme::statusDot() : MRTheme::textTertiary());
        connect(row, &MRRowView::clicked, this, [this, row, i] { recentClicked(row, i); });
        m_recentsLayout->insertWidget(int(m_recentRows.size()), row);
        // At once rather than when the layout gets round to it, so Tab finds it right away.
        row->show();
        m_recentRows.append(row);
    }
    m_emptyRecentsLabel->setVisible(m_recentRows.isEmpty() && !m_recentsCollapsed);
    updateTabOrder();
}

void SidebarViewController::recentClicked(MRSidebarRow* row, int index)
{
    selectRecentRow(row);
    m_pill->setSelectedIndex(0);
    if (m_delegate)
        m_delegate->sidebarDidSelectView(0);
    if (m_delegate)
        m_delegate->sidebarDidSelectRecentAtIndex(index);
}

void SidebarViewController::selectRecentRow(MRSidebarRow* row)
{
    for (MRSidebarRow* recent : std::as_const(m_recentRows))
        recent->setSelectedLook(recent == row);
}

void SidebarViewController::updateTabOrder()
{
    QList<QWidget*> order{m_pill, m_primaryRow, m_databasesRow, m_recentsHeader, m_optionsButton};
    for (MRSidebarRow* row : std::as_const(m_recentRows))
        order.append(row);
    order.append(m_connectionRow);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void SidebarViewController::reloadConnections()
{
    const std::optional<DatabaseConnection> active = ConnectionManager::shared().activeConnection();
    if (active) {
        m_connectionRow->setTitleText(active->name.isEmpty() ? tr("(unnamed)") : active->name);
        m_connectionRow->setLeadingImage(MRStyleKit::sparkleImageOfSize(16), MRTheme::accent());
    } else {
        m_connectionRow->setTitleText(tr("No database"));
        m_connectionRow->setLeadingImage(MRStyleKit::sparkleImageOfSize(16), MRTheme::textTertiary());
    }
}

void SidebarViewController::setSelectedView(int index)
{
    m_pill->setSelectedIndex(index);
}

void SidebarViewController::filterRecentsWithQuery(const QString& query)
{
    m_searchFilter = query.isEmpty() ? std::nullopt : std::optional<QString>(query);
    reloadRecents();
}

void SidebarViewController::toggleRecents()
{
    m_recentsCollapsed = !m_recentsCollapsed;
    QSettings().setValue(QLatin1String(kRecentsCollapsedKey), m_recentsCollapsed);
    applyRecentsCollapsed(true);
}

bool SidebarViewController::isRecentsAnimating() const
{
    return m_recentsAnimation->state() == QAbstractAnimation::Running;
}

void SidebarViewController::applyRecentsCollapsed(bool animated)
{
    m_recentsChevron->setImage(chevron(m_recentsCollapsed));
    m_emptyRecentsLabel->setVisible(!m_recentsCollapsed && m_recentRows.isEmpty());
    const qreal target = m_recentsCollapsed ? 0 : 1;
    m_recentsAnimation->stop();
    if (!m_recentsCollapsed)
        m_recentsScroll->show();
    if (animated && !qFuzzyCompare(m_recentsShown, target)) {
        // The list folds away before it hides, and shows before it unfolds.
        m_recentsAnimation->setStartValue(m_recentsShown);
        m_recentsAnimation->setEndValue(target);
        m_recentsAnimation->start();
        return;
    }
    m_recentsShown = target;
    m_recentsScroll->setVisible(!m_recentsCollapsed);
    layoutParts();
}

QMenu* SidebarViewController::popUnder(QMenu* menu, QWidget* control)
{
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(control->mapToGlobal(QPoint(0, control->height() + kMenuDrop)));
    return menu;
}

QMenu* SidebarViewController::showRecentsMenu()
{
    auto* menu = new QMenu(this);
    QAction* clear = menu->addAction(tr("Clear History"));
    connect(clear, &QAction::triggered, this, &SidebarViewController::clearHistoryClicked);
    return popUnder(menu, m_optionsButton);
}

void SidebarViewController::clearHistoryClicked()
{
    if (m_delegate)
        m_delegate->sidebarDidRequestClearHistory();
}

QMenu* SidebarViewController::showConnectionMenu()
{
    QMenu* menu = MRStyleKit::connectionMenuForTarget(
        this, [this](QAction* item) { connectionMenuItemClicked(item); }, [this] { manageFromMenu(); }, true, this);
    return popUnder(menu, m_connectionRow);
}

void SidebarViewController::connectionMenuItemClicked(QAction* item)
{
    const QVariant id = item->data();
    if (m_delegate)
        m_delegate->sidebarDidSelectConnectionId(id.isValid() ? std::optional<QString>(id.toString()) : std::nullopt);
    reloadConnections();
}

void SidebarViewController::manageFromMenu()
{
    if (m_delegate)
        m_delegate->sidebarDidRequestManageConnections();
}
