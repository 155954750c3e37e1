// Renders every house-style widget, the results grid, the statement view, the connection
// sheet and the sidebar in each of their states, in light and in dark, into PNG files named
// widget-state-appearance, so the whole look can be reviewed at once.
// Usage: gallery <output folder>

#include "db/ConnectionManager.h"
#include "db/ConnectionSheetController.h"
#include "devserver/DemoServer.h"
#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "ui/MRButton.h"
#include "ui/MRCardView.h"
#include "ui/MRClickRow.h"
#include "ui/MRContentRootView.h"
#include "ui/MRDotGridView.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRIconCatalogue.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRPill.h"
#include "ui/MRSQLTextViewHighlighter.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRStyleKit.h"
#include "ui/MRSuggestionRow.h"
#include "ui/MRTextField.h"
#include "ui/MRTheme.h"
#include "update/UpdateBannerView.h"
#include "update/UpdateManager.h"
#include "window/MainWindowController.h"
#include "window/SidebarViewController.h"
#include "workspace/ContentViewController.h"
#include "workspace/ExportProgressPanel.h"
#include "workspace/QueryHistory.h"
#include "workspace/ResultsGridView.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>
#include <functional>
#include <tuple>

namespace {

enum class State { Rest, Hover, Pressed, On, OnHover, Focused, Disabled, Elevated };

QString stateName(State state)
{
    switch (state) {
    case State::Rest:
        return QStringLiteral("rest");
    case State::Hover:
        return QStringLiteral("hover");
    case State::Pressed:
        return QStringLiteral("pressed");
    case State::On:
        return QStringLiteral("on");
    case State::OnHover:
        return QStringLiteral("on-hover");
    case State::Focused:
        return QStringLiteral("focused");
    case State::Disabled:
        return QStringLiteral("disabled");
    case State::Elevated:
        return QStringLiteral("elevated");
    }
    return {};
}

void settle(const std::function<bool()>& busy = {})
{
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (busy && busy())
            QThread::msleep(5);
    } while (busy && busy() && timer.elapsed() < 2000);
}

void hover(QWidget* widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    QEnterEvent enter(centre, widget->mapTo(widget->window(), centre), widget->mapToGlobal(centre));
    QCoreApplication::sendEvent(widget, &enter);
}

void press(QWidget* widget, QPointF at = {})
{
    if (at.isNull())
        at = QRectF(widget->rect()).center();
    QMouseEvent event(QEvent::MouseButtonPress, at, widget->mapTo(widget->window(), at), widget->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void focus(QWidget* widget)
{
    QWidget* window = widget->window();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    settle();
    // The window may have handed the widget focus on opening; arrive again from the keyboard.
    widget->clearFocus();
    widget->setFocus(Qt::TabFocusReason);
}

// Drives a widget into a state through the same events and setters the application uses.
void drive(QWidget* widget, State state)
{
    switch (state) {
    case State::Rest:
    case State::Elevated:
        break;
    case State::Hover:
        hover(widget);
        break;
    case State::Pressed:
        hover(widget);
        press(widget);
        break;
    case State::On:
        press(widget);
        break;
    case State::OnHover:
        hover(widget);
        press(widget);
        break;
    case State::Focused:
        focus(widget);
        break;
    case State::Disabled:
        widget->setEnabled(false);
        break;
    }
}

class Gallery
{
public:
    explicit Gallery(const QDir& folder) : m_folder(folder) {}

    using Factory = std::function<QWidget*(State)>;

    // One picture per state and appearance of the widget the factory makes.
    void shoot(const QString& name, const QList<State>& states, const Factory& make, QSize size = {})
    {
        for (State state : states) {
            auto* host = new MRContentRootView;
            auto* layout = new QVBoxLayout(host);
            layout->setContentsMargins(24, 20, 24, 24);
            QWidget* widget = make(state);
            layout->addWidget(widget);
            if (size.isValid())
                widget->setFixedSize(size);
            // Sized once to fit; a window with size limits makes the offscreen platform warn.
            layout->setSizeConstraint(QLayout::SetNoConstraint);
            host->resize(host->sizeHint());
            host->show();
            settle();
            if (state == State::Elevated) {
                if (auto* panel = qobject_cast<MRPanel*>(widget))
                    panel->setElevated(true);
            }
            drive(widget, state);
            if (auto* pill = qobject_cast<MRPill*>(widget))
                settle([pill] { return pill->isAnimating(); });
            settle();
            save(host->grab(), name + QLatin1Char('-') + stateName(state));
            delete host;
        }
    }

    // One picture of a widget that make builds and prepare then puts into its state, once shown.
    void shootPrepared(const QString& stem, const std::function<QWidget*()>& make,
                       const std::function<void(QWidget*)>& prepare, QSize size)
    {
        auto* host = new MRContentRootView;
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(24, 20, 24, 24);
        QWidget* widget = make();
        layout->addWidget(widget);
        widget->setFixedSize(size);
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        host->resize(host->sizeHint());
        host->show();
        settle();
        prepare(widget);
        settle();
        save(host->grab(), stem);
        delete host;
    }

    void save(const QPixmap& pixmap, const QString& stem)
    {
        const QString file = m_folder.filePath(stem + QLatin1Char('-') + m_appearance + QStringLiteral(".png"));
        if (pixmap.save(file))
            ++m_written;
        else
            m_failed.append(file);
        m_shots.append({stem, pixmap});
    }

    void setAppearance(const QString& appearance)
    {
        m_appearance = appearance;
        m_shots.clear();
    }

    // Every picture of the current appearance on one sheet, captioned, one widget a row.
    void saveOverview()
    {
        constexpr int kWidth = 1600;
        constexpr int kGap = 12;
        constexpr int kCaption = 16;
        struct Placed
        {
            QPoint at;
            int index;
        };
        QList<Placed> placed;
        QPoint cursor(kGap, kGap);
        int rowHeight = 0;
        QString widget;
        for (int i = 0; i < m_shots.size(); ++i) {
            const QSize size = m_shots.at(i).second.deviceIndependentSize().toSize();
            const QString owner = m_shots.at(i).first.section(QLatin1Char('-'), 0, 0);
            if ((owner != widget && i > 0) || cursor.x() + size.width() > kWidth) {
                cursor = QPoint(kGap, cursor.y() + rowHeight + kCaption + kGap);
                rowHeight = 0;
            }
            widget = owner;
            placed.append({cursor, i});
            cursor.rx() += qMax(size.width(), 150) + kGap;
            rowHeight = qMax(rowHeight, size.height());
        }
        auto* sheet = new MRContentRootView;
        sheet->setFixedSize(kWidth, cursor.y() + rowHeight + kCaption + kGap);
        QPixmap overview = sheet->grab();
        delete sheet;
        QPainter painter(&overview);
        painter.setFont(MRTheme::uiFont(10));
        painter.setPen(MRTheme::textTertiary().resolve(QApplication::palette()));
        for (const Placed& p : placed) {
            const auto& [stem, pixmap] = m_shots.at(p.index);
            painter.drawPixmap(p.at, pixmap);
            painter.drawText(QPoint(p.at.x(), p.at.y() + int(pixmap.deviceIndependentSize().height()) + 12), stem);
        }
        painter.end();
        m_shots.clear();
        save(overview, QStringLiteral("Gallery-overview"));
        m_shots.clear();
    }
    int written() const { return m_written; }
    QStringList failed() const { return m_failed; }

private:
    QDir m_folder;
    QString m_appearance;
    int m_written = 0;
    QStringList m_failed;
    QList<std::pair<QString, QPixmap>> m_shots;
};

// Every symbol at two sizes and both weights, with the sparkle mark, on one sheet.
class IconSheet : public QWidget
{
public:
    IconSheet()
    {
        m_names = MRIconCatalogue::names();
        setFixedSize(kColumns * kCellWidth, (int(m_names.size() + 1 + kColumns - 1) / kColumns) * kCellHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QColor ink = MRTheme::textPrimary().resolve(palette());
        const QColor caption = MRTheme::textTertiary().resolve(palette());
        painter.setFont(MRTheme::uiFont(9));
        for (int i = 0; i <= m_names.size(); ++i) {
            const QRectF cell((i % kColumns) * kCellWidth, (i / kColumns) * kCellHeight, kCellWidth, kCellHeight);
            const bool sparkle = i == m_names.size();
            const QString name = sparkle ? QStringLiteral("sparkle") : m_names.at(i);
            const auto icon = [&](qreal size, int weight) {
                return sparkle ? MRStyleKit::sparkleImageOfSize(size * 1.2) : MRStyleKit::symbol(name, size, weight);
            };
            icon(14, QFont::Normal).paint(painter, QRectF(cell.x() + 8, cell.y() + 8, 20, 20), ink);
            icon(14, QFont::Bold).paint(painter, QRectF(cell.x() + 34, cell.y() + 8, 20, 20), ink);
            icon(36, QFont::Normal).paint(painter, QRectF(cell.x() + 74, cell.y() + 4, 46, 46), ink);
            painter.setPen(caption);
            painter.drawText(cell.adjusted(4, 0, -4, -6), Qt::AlignHCenter | Qt::AlignBottom, name);
        }
    }

private:
    static constexpr int kColumns = 6;
    static constexpr int kCellWidth = 150;
    static constexpr int kCellHeight = 76;
    QStringList m_names;
};

void shootAll(Gallery& gallery)
{
    const QList<State> buttonStates{State::Rest, State::Hover, State::Pressed, State::Focused, State::Disabled};
    const QList<State> rowStates{State::Rest, State::Hover, State::Focused, State::Disabled};

    gallery.shoot(QStringLiteral("MRButton-primary"), buttonStates,
                  [](State) { return MRStyleKit::primaryButtonWithTitle(QStringLiteral("Update")); });
    gallery.shoot(QStringLiteral("MRButton-ghost"), buttonStates,
                  [](State) { return MRStyleKit::ghostButtonWithTitle(QStringLiteral("Later")); });
    gallery.shoot(QStringLiteral("MRButton-ghost-menu"), buttonStates, [](State) {
        MRButton* button = MRStyleKit::ghostButtonWithTitle(QStringLiteral("No database"));
        button->setImage(MRStyleKit::symbol(QStringLiteral("chevron.down"), 9, QFont::DemiBold));
        button->setImageTint(MRTheme::textTertiary());
        button->setImageTrailing(true);
        return button;
    });
    gallery.shoot(
        QStringLiteral("MRButton-icon"), buttonStates,
        [](State) { return MRStyleKit::iconButtonWithSymbol(QStringLiteral("ellipsis"), QStringLiteral("More")); },
        QSize(30, 24));
    gallery.shoot(QStringLiteral("MRButton-send"), buttonStates,
                  [](State) { return MRStyleKit::sendButtonWithTarget(); });
    gallery.shoot(QStringLiteral("MRButton-stop"), {State::Rest, State::Hover}, [](State) {
        MRButton* button = MRStyleKit::sendButtonWithTarget();
        button->setImage(MRStyleKit::symbol(QStringLiteral("stop.fill"), 13, QFont::Bold));
        return button;
    });

    gallery.shoot(
        QStringLiteral("MRSuggestionRow"), rowStates,
        [](State) {
            return new MRSuggestionRow(QStringLiteral("clock"), QStringLiteral("Show the 10 most recent orders"));
        },
        QSize(380, 52));
    gallery.shoot(
        QStringLiteral("MRHistoryRow"), rowStates,
        [](State) {
            return new MRHistoryRow(
                QStringLiteral("Customers with no orders in the last ninety days, newest first"),
                QStringLiteral("SELECT c.name, count(*) AS orders FROM customers c -- lapsed\n"
                               "WHERE c.created_at < now() - interval '90 days' AND c.tier = 'gold'"),
                QStringLiteral("Yesterday 14:05"));
        },
        QSize(420, 62));
    gallery.shoot(
        QStringLiteral("MRHistoryRow-empty"), {State::Rest},
        [](State) { return new MRHistoryRow(QString(), QStringLiteral("SELECT 1"), QStringLiteral("09:12")); },
        QSize(420, 62));
    gallery.shoot(
        QStringLiteral("MRSidebarRow-symbol"), rowStates,
        [](State) { return new MRSidebarRow(QStringLiteral("cylinder.split.1x2"), QStringLiteral("Databases")); },
        QSize(240, 32));
    gallery.shoot(
        QStringLiteral("MRSidebarRow-selected"), rowStates,
        [](State) {
            auto* row = new MRSidebarRow(QStringLiteral("plus"), QStringLiteral("New query"));
            row->setSelectedLook(true);
            return row;
        },
        QSize(240, 32));
    gallery.shoot(
        QStringLiteral("MRSidebarRow-dot"), rowStates,
        [](State) {
            auto* row = new MRSidebarRow(QString(), QStringLiteral("Customers with no orders in the last ninety days"));
            row->setDotColor(MRTheme::statusDot());
            return row;
        },
        QSize(240, 32));
    gallery.shoot(
        QStringLiteral("MRSidebarRow-connection"), rowStates,
        [](State) {
            auto* row = new MRSidebarRow(QString(), QStringLiteral("Production"));
            row->setLeadingImage(MRStyleKit::sparkleImageOfSize(16), MRTheme::accent());
            row->setTrailingSymbol(QStringLiteral("chevron.up.chevron.down"));
            return row;
        },
        QSize(240, 32));
    gallery.shoot(
        QStringLiteral("MRClickRow-recents"), rowStates,
        [](State) {
            auto* row = new MRClickRow;
            row->setFixedHeight(22);
            auto* layout = new QHBoxLayout(row);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(3);
            auto* chevron = new MRImageView;
            chevron->setImage(MRStyleKit::symbol(QStringLiteral("chevron.down"), 10, QFont::DemiBold));
            chevron->setTint(MRTheme::textTertiary());
            chevron->setFixedWidth(12);
            layout->addWidget(chevron);
            layout->addWidget(MRStyleKit::sectionHeader(QStringLiteral("Recents")));
            layout->addStretch();
            return row;
        },
        QSize(240, 22));

    const QList<State> chipStates{State::Rest, State::Hover, State::On, State::OnHover, State::Disabled};
    const MRColor orange(QColor(0xFF9500), QColor(0xFF9F0A));
    const MRColor purple(QColor(0xAF52DE), QColor(0xBF5AF2));
    gallery.shoot(QStringLiteral("MRSettingChip-writes"), chipStates, [&](State) {
        return new MRSettingChip(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("Writes"), orange);
    });
    gallery.shoot(QStringLiteral("MRSettingChip-mydata"), chipStates, [&](State) {
        return new MRSettingChip(QStringLiteral("checkmark.shield"), QStringLiteral("My data"), purple);
    });

    // "on" presses the middle of the pill, which is the second segment.
    gallery.shoot(
        QStringLiteral("MRPill"), {State::Rest, State::On, State::Focused, State::Disabled},
        [](State) {
            return new MRPill({QStringLiteral("Query"), QStringLiteral("History")});
        },
        QSize(240, 30));

    gallery.shoot(
        QStringLiteral("MRPanel"), {State::Rest, State::Elevated}, [](State) { return new MRPanel; }, QSize(320, 90));
    gallery.shoot(
        QStringLiteral("MRCardView"), {State::Rest}, [](State) { return MRStyleKit::cardView(); }, QSize(320, 90));
    gallery.shoot(
        QStringLiteral("MRDotGridView"), {State::Rest}, [](State) { return new MRDotGridView; }, QSize(320, 160));
    gallery.shoot(
        QStringLiteral("MRContentRootView"), {State::Rest}, [](State) { return new MRContentRootView; },
        QSize(160, 60));
    gallery.shoot(QStringLiteral("MRImageView-sparkle"), {State::Rest, State::Disabled},
                  [](State) { return MRStyleKit::sparkleViewOfSize(32); });
    gallery.shoot(QStringLiteral("MRLabel-sectionHeader"), {State::Rest},
                  [](State) { return MRStyleKit::sectionHeader(QStringLiteral("Recents")); });
    gallery.shoot(
        QStringLiteral("MRTextField"), {State::Rest, State::Focused, State::Disabled},
        [](State state) {
            auto* field = new MRTextField;
            field->setPlaceholderText(QStringLiteral("https://mirelo.example.com"));
            // Otherwise the window would hand it the focus as it opens.
            if (state != State::Focused)
                field->setFocusPolicy(Qt::ClickFocus);
            return field;
        },
        QSize(320, 30));
    gallery.shoot(
        QStringLiteral("MRTextField-filled"), {State::Rest, State::Focused, State::Disabled},
        [](State state) {
            auto* field = new MRTextField;
            field->setText(QStringLiteral("https://db-tools.internal:8443"));
            if (state != State::Focused)
                field->setFocusPolicy(Qt::ClickFocus);
            return field;
        },
        QSize(320, 30));
    gallery.shoot(QStringLiteral("MRSpinnerView"), {State::Rest}, [](State) {
        auto* spinner = new MRSpinnerView;
        spinner->startAnimation();
        return spinner;
    });
    gallery.shoot(QStringLiteral("MRIconCatalogue"), {State::Rest}, [](State) { return new IconSheet; });
}

// The update banner in each of its states, at the workspace's height.
void shootBanner(Gallery& gallery)
{
    UpdateInfo info;
    info.version = QStringLiteral("2.4.0");
    info.build = 42;
    info.notes = QStringLiteral("Faster exports and a clearer history.");
    const QSize size(720, 52);
    using Setup = std::function<void(UpdateBannerView*)>;
    const QList<std::pair<QString, Setup>> states{
        {QStringLiteral("offer"), [](UpdateBannerView*) {}},
        {QStringLiteral("downloading"),
         [](UpdateBannerView* banner) {
             banner->setBusyMessage(QStringLiteral("Downloading update…"));
             banner->setProgress(0.424);
         }},
        {QStringLiteral("restarting"), [](UpdateBannerView* banner) { banner->showRestarting(); }},
        {QStringLiteral("error"),
         [](UpdateBannerView* banner) {
             banner->showError(
                 QStringLiteral("Checksum mismatch — the download may be corrupt or tampered with. Update cancelled."));
         }},
    };
    for (const auto& [name, setup] : states) {
        gallery.shoot(
            QStringLiteral("UpdateBannerView-") + name, {State::Rest},
            [&info, &setup](State) {
                auto* banner = new UpdateBannerView;
                banner->presentUpdate(info);
                setup(banner);
                return banner;
            },
            size);
    }
    // A copy that the package manager installed is told where to get the build.
    UpdateManager& manager = UpdateManager::shared();
    const QString bundle = manager.runningBundlePath();
    manager.setRunningBundleForTesting(QStringLiteral("/usr/lib/mirelo/Mirelo.app"));
    gallery.shoot(
        QStringLiteral("UpdateBannerView-packageManager"), {State::Rest},
        [&info](State) {
            auto* banner = new UpdateBannerView;
            banner->presentUpdate(info);
            return banner;
        },
        size);
    manager.setRunningBundleForTesting(bundle);
}

QueryResultPtr sampleResult(int rows, int extraColumns = 0)
{
    auto result = std::make_shared<QueryResult>();
    result->columnNames = {QStringLiteral("id"), QStringLiteral("customer"), QStringLiteral("email"),
                           QStringLiteral("total"), QStringLiteral("shipped_at")};
    for (int c = 0; c < extraColumns; ++c)
        result->columnNames.append(QStringLiteral("extra_%1").arg(c + 1));
    const QStringList names{QStringLiteral("Ada Lovelace"), QStringLiteral("Grace Hopper"),
                            QStringLiteral("Katherine Johnson"), QStringLiteral("Edsger Dijkstra"),
                            QStringLiteral("Barbara Liskov")};
    for (int r = 0; r < rows; ++r) {
        SQLRow row{QString::number(1000 + r * 7), names.at(r % names.size()),
                   r == 2 ? QStringLiteral("katherine.johnson.flight-research-division@langley.example.gov")
                          : names.at(r % names.size()).section(u' ', 0, 0).toLower() + QStringLiteral("@example.com"),
                   QStringLiteral("$ %1.%2").arg(120 + r * 37).arg(r * 13 % 100, 2, 10, QLatin1Char('0')),
                   r % 3 == 1 ? SQLValue()
                              : SQLValue(QStringLiteral("2024-05-%1 09:30").arg(r % 28 + 1, 2, 10, QLatin1Char('0')))};
        for (int c = 0; c < extraColumns; ++c)
            row.append(c % 2 ? SQLValue() : SQLValue(QString::number(r * c)));
        result->rows.append(row);
    }
    result->rowCount = quint64(rows);
    return result;
}

ResultsGridView* gridWith(const QueryResultPtr& result)
{
    auto* grid = new ResultsGridView;
    grid->setResult(result);
    return grid;
}

void selectRows(ResultsGridView* grid, std::initializer_list<int> rows)
{
    QTableView* table = grid->table();
    for (const int row : rows)
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// The results grid as the workspace shows it: numbers, NULLs and a long value; two selected
// rows; the keyboard in it; scroll bars; and an empty result, which collapses it.
void shootGrid(Gallery& gallery)
{
    const QSize size(600, ResultsGridView::heightForRows(6));
    const auto six = [] { return gridWith(sampleResult(6)); };
    const auto grid = [](QWidget* widget) { return static_cast<ResultsGridView*>(widget); };
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-rest"), six, [](QWidget*) {}, size);
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-selected"), six,
        [&](QWidget* w) {
            selectRows(grid(w), {1, 3});
        },
        size);
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-focused"), six,
        [&](QWidget* w) {
            selectRows(grid(w), {1, 3});
            focus(grid(w)->table());
            grid(w)->table()->selectionModel()->setCurrentIndex(grid(w)->table()->model()->index(3, 0),
                                                                QItemSelectionModel::NoUpdate);
        },
        size);
    // Ctrl with the arrows moves without selecting: the current row is outlined.
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-focused-current"), six,
        [&](QWidget* w) {
            selectRows(grid(w), {1, 3});
            focus(grid(w)->table());
            grid(w)->table()->selectionModel()->setCurrentIndex(grid(w)->table()->model()->index(4, 0),
                                                                QItemSelectionModel::NoUpdate);
        },
        size);
    // Rows passing the rounded corners at the bottom, with only the vertical scroll bar.
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-scrolled"), [] { return gridWith(sampleResult(40)); },
        [&](QWidget* w) {
            QTableView* table = grid(w)->table();
            table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum());
            selectRows(grid(w), {38, 39});
        },
        QSize(600, ResultsGridView::kMaxHeight));
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-wide"), [] { return gridWith(sampleResult(40, 6)); },
        [&](QWidget* w) {
            selectRows(grid(w), {0, 2});
        },
        QSize(600, ResultsGridView::kMaxHeight));
    gallery.shootPrepared(
        QStringLiteral("ResultsGridView-empty"), [] { return gridWith(sampleResult(0)); }, [](QWidget*) {},
        QSize(600, ResultsGridView::heightForRows(0)));

    // The context menu of a capped result whose statement is known: the whole result is offered.
    auto capped = std::make_shared<QueryResult>(*sampleResult(6));
    capped->rowCount = 25000;
    ResultsGridView* cappedGrid = gridWith(capped);
    cappedGrid->setResult(capped, {QStringLiteral("SELECT * FROM orders"), DatabaseConnection()});
    cappedGrid->resize(size);
    cappedGrid->show();
    settle();
    QTableView* table = cappedGrid->table();
    const QPoint at(40, 40);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    if (auto* menu = cappedGrid->findChild<QMenu*>()) {
        settle();
        gallery.save(menu->grab(), QStringLiteral("ResultsGridView-menu-capped"));
        menu->close();
    }
    delete cappedGrid;

    // The panel of a whole-result export: part way through, and past the count the grid
    // showed, when the end is no longer known.
    for (const auto& [name, rows] : {std::pair{QStringLiteral("progress"), quint64(12480)},
                                     std::pair{QStringLiteral("unknownEnd"), quint64(25310)}}) {
        ExportProgressPanel panel(QStringLiteral("orders-2024.csv"), 25000);
        panel.setRowsWritten(rows);
        panel.show();
        settle();
        gallery.save(panel.grab(), QStringLiteral("ExportProgressPanel-") + name);
    }
}

// The read-only statement view: the highlighted SQL in its panel, a comment holding a quote
// among it; once at rest and once with a word selected.
void shootSQLView(Gallery& gallery)
{
    const QString sql = QStringLiteral("-- Customers who haven't ordered since spring\n"
                                       "SELECT c.name, count(o.id) AS orders, sum(o.total) AS spent\n"
                                       "FROM customers c\n"
                                       "LEFT JOIN orders o ON o.customer_id = c.id\n"
                                       "  AND o.placed_at >= '2024-03-01'\n"
                                       "WHERE c.region = 'EU' /* the \"active\" flag */ AND c.active\n"
                                       "GROUP BY c.name\n"
                                       "HAVING count(o.id) = 0\n"
                                       "ORDER BY spent DESC NULLS LAST\n"
                                       "LIMIT 50;");
    const auto make = [sql] {
        auto* panel = new MRPanel;
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(8, 6, 8, 6);
        auto* view = new QTextEdit;
        view->setReadOnly(true);
        view->setAcceptRichText(false);
        view->setFrameShape(QFrame::NoFrame);
        view->viewport()->setAutoFillBackground(false);
        view->setPlainText(sql);
        MRSQLTextViewHighlighter::highlightTextView(view, 13);
        layout->addWidget(view);
        return panel;
    };
    const QSize size(600, 228);
    gallery.shootPrepared(
        QStringLiteral("MRSQLTextViewHighlighter-readonly-rest"), make, [](QWidget*) {}, size);
    gallery.shootPrepared(
        QStringLiteral("MRSQLTextViewHighlighter-readonly-selected"), make,
        [](QWidget* panel) {
            auto* view = panel->findChild<QTextEdit*>();
            focus(view);
            QTextCursor cursor(view->document());
            cursor.setPosition(int(view->toPlainText().indexOf(QStringLiteral("customers c"))));
            cursor.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
            view->setTextCursor(cursor);
        },
        size);
}

// The sign-in window at rest, while the server is asked (a local server that takes the
// request and never answers), and with a form error that takes two lines.
void shootLogin(Gallery& gallery)
{
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    using Setup = std::function<void(LoginWindowController&)>;
    const QList<std::pair<QString, Setup>> states{
        {QStringLiteral("rest"), [](LoginWindowController&) {}},
        {QStringLiteral("validating"),
         [&silent](LoginWindowController& login) {
             login.serverURLField()->setText(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
             login.apiKeyField()->setText(QStringLiteral("mirelo_7f3a9c2e51"));
             login.loginClicked();
         }},
        {QStringLiteral("error"),
         [](LoginWindowController& login) {
             login.serverURLField()->setText(QStringLiteral("mirelo.example.com"));
             login.apiKeyField()->setText(QStringLiteral("mirelo_7f3a9c2e51"));
             login.loginClicked();
         }},
    };
    for (const auto& [name, setup] : states) {
        LoginWindowController login;
        login.show();
        settle();
        setup(login);
        settle();
        gallery.save(login.window()->grab(), QStringLiteral("LoginWindowController-") + name);
    }
}

// The connection menu, with and without host and port, at rest and with an item under
// the pointer. It reads the connections of the gallery's own scratch home.
void shootMenus(Gallery& gallery)
{
    for (const bool detail : {true, false}) {
        for (const State state : {State::Rest, State::Hover}) {
            QMenu* menu = MRStyleKit::connectionMenuForTarget(nullptr, {}, {}, detail);
            // Laid out but never popped up: the offscreen platform cannot grab a keyboard for it.
            menu->resize(menu->sizeHint());
            if (state == State::Hover)
                menu->setActiveAction(menu->actions().at(3));
            settle();
            const QString name = detail ? QStringLiteral("MRStyleKit-connectionMenu-detail")
                                        : QStringLiteral("MRStyleKit-connectionMenu-names");
            gallery.save(menu->grab(), name + QLatin1Char('-') + stateName(state));
            delete menu;
        }
    }
}

// The connection editor over a window: the first connection selected, then the form
// refused for a blank name and for a port out of range, and being edited from the keyboard
// with SSL ticked.
void shootSheet(Gallery& gallery)
{
    using Setup = std::function<void(ConnectionSheetController&)>;
    const QList<std::pair<QString, Setup>> states{
        {QStringLiteral("selected"), [](ConnectionSheetController&) {}},
        {QStringLiteral("nameRequired"),
         [](ConnectionSheetController& sheet) {
             sheet.addClicked();
             sheet.nameField()->setText(QStringLiteral("   "));
             sheet.saveClicked();
         }},
        {QStringLiteral("badPort"),
         [](ConnectionSheetController& sheet) {
             sheet.portField()->setText(QStringLiteral("70000"));
             sheet.saveClicked();
         }},
        {QStringLiteral("editing"),
         [](ConnectionSheetController& sheet) {
             sheet.sslCheckbox()->setChecked(true);
             sheet.sheet()->activateWindow();
             sheet.hostField()->setFocus(Qt::TabFocusReason);
         }},
    };
    for (const auto& [name, setup] : states) {
        MRContentRootView window;
        window.resize(900, 620);
        window.show();
        ConnectionSheetController sheet;
        sheet.beginSheetModalForWindow(&window);
        settle();
        setup(sheet);
        settle();
        gallery.save(sheet.sheet()->grab(), QStringLiteral("ConnectionSheetController-") + name);
    }
}

// The sidebar with recent prompts and the active connection, folded, filtered to one
// match, and with no history at all.
void shootSidebar(Gallery& gallery)
{
    QueryHistory& history = QueryHistory::shared();
    const QStringList prompts{QStringLiteral("Customers with no orders in the last ninety days"),
                              QStringLiteral("Revenue by month for 2024"), QStringLiteral("   "),
                              QStringLiteral("Top ten products by units sold"),
                              QStringLiteral("Orders still waiting to ship")};
    using Setup = std::function<void(SidebarViewController&)>;
    const QList<std::tuple<QString, bool, Setup>> states{
        {QStringLiteral("filled"), false,
         [](SidebarViewController& sidebar) { sidebar.selectRecentRow(sidebar.recentRows().value(1)); }},
        {QStringLiteral("collapsed"), true, [](SidebarViewController&) {}},
        {QStringLiteral("filtered"), false,
         [](SidebarViewController& sidebar) {
             sidebar.setSelectedView(1);
             sidebar.filterRecentsWithQuery(QStringLiteral("ORDERS"));
         }},
        {QStringLiteral("empty"), false, [](SidebarViewController&) {}},
    };
    for (const auto& [name, collapsed, setup] : states) {
        history.clearAll();
        if (name != QStringLiteral("empty")) {
            for (qsizetype i = prompts.size() - 1; i >= 0; --i)
                history.addRecord(QueryRecord::make(prompts.at(i), QStringLiteral("SELECT %1").arg(i)));
        }
        QSettings().setValue(QLatin1String(SidebarViewController::kRecentsCollapsedKey), collapsed);
        SidebarViewController sidebar;
        sidebar.show();
        settle();
        setup(sidebar);
        settle();
        gallery.save(sidebar.grab(), QStringLiteral("SidebarViewController-") + name);
    }
    QSettings().remove(QLatin1String(SidebarViewController::kRecentsCollapsedKey));
    history.clearAll();
}

// Waits until done() holds, for at most timeoutMs.
bool settleUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    settle();
    return done();
}

// The sample shop on the test PostgreSQL server when scripts/test has started it.
std::optional<DatabaseConnection> shopConnection()
{
    const auto env = [](const char* name) { return qEnvironmentVariable(name); };
    if (env("MIRELO_TEST_PG_PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.name = QStringLiteral("Shop");
    c.host = env("MIRELO_TEST_PG_HOST");
    c.port = env("MIRELO_TEST_PG_PORT").toLongLong();
    c.database = env("MIRELO_TEST_PG_SHOP_DATABASE");
    c.username = env("MIRELO_TEST_PG_USER");
    c.password = env("MIRELO_TEST_PG_PASSWORD");
    return c;
}

// The workspace in each of its states at two pane sizes, generating against the demo
// server. Results come from the sample shop when its server runs; otherwise the grid is
// given a few sample rows.
void shootWorkspace(Gallery& gallery)
{
    DemoServer::Config config;
    config.apiKeys = {QStringLiteral("gallery")};
    DemoServer server(config);
    auto* listener = new QTcpServer(&server);
    if (!listener->listen(QHostAddress::LocalHost, 0))
        return;
    server.bind(listener);
    APIManager& api = APIManager::shared();
    api.setServerURL(QStringLiteral("http://127.0.0.1:%1").arg(listener->serverPort()));
    api.setApiKey(QStringLiteral("gallery"));

    ConnectionManager& connections = ConnectionManager::shared();
    const std::optional<QString> previous = connections.activeConnectionId();
    const std::optional<DatabaseConnection> shop = shopConnection();
    DatabaseConnection shopOrSample = shop.value_or(DatabaseConnection());
    shopOrSample.name = QStringLiteral("Shop");
    connections.addConnection(shopOrSample);
    DatabaseConnection unreachable;
    unreachable.name = QStringLiteral("Staging");
    unreachable.host = QStringLiteral("127.0.0.1");
    unreachable.port = 1; // nothing listens there
    connections.addConnection(unreachable);

    QueryHistory& history = QueryHistory::shared();
    history.clearAll();
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QList<QueryRecord> records{
        {QStringLiteral("Orders per status this year"),
         QStringLiteral("SELECT status, count(*) FROM orders WHERE ordered_at >= date_trunc('year', now()) GROUP BY "
                        "status ORDER BY 2 DESC"),
         now - 9 * 86400},
        {QStringLiteral("Top 5 products by total revenue"),
         QStringLiteral("SELECT p.name, sum(oi.quantity * oi.unit_price) AS revenue FROM order_items oi JOIN "
                        "products p ON p.id = oi.product_id GROUP BY p.name ORDER BY revenue DESC LIMIT 5"),
         now - 3 * 86400},
        {QStringLiteral("Show the 10 most recent orders"),
         QStringLiteral("SELECT id, customer_id, status, total, ordered_at FROM orders ORDER BY ordered_at DESC LIMIT "
                        "10"),
         now - 2 * 3600},
        {QStringLiteral("Customers with no orders in 90 days"),
         QStringLiteral("SELECT c.name FROM customers c WHERE NOT EXISTS (SELECT 1 FROM orders o WHERE o.customer_id "
                        "= c.id AND o.ordered_at > now() - interval '90 days')"),
         now - 25},
    };
    for (const QueryRecord& record : records)
        history.addRecord(record);

    const QString prompt = QStringLiteral("Show the 10 most recent orders");
    const auto generate = [&prompt](ContentViewController* content) {
        content->promptTextView()->setPlainText(prompt);
        content->sendButton()->click();
        return settleUntil([content] { return !content->promptTextView()->isReadOnly(); }, 5000);
    };
    const auto execute = [](ContentViewController* content) {
        content->executeButton()->click();
        return settleUntil([content] { return !content->isRunningQuery(); }, 20000);
    };
    using Drive = std::function<void(ContentViewController*)>;
    const QList<std::pair<QString, Drive>> states{
        {QStringLiteral("empty"), [](ContentViewController*) {}},
        {QStringLiteral("generating"),
         [&prompt](ContentViewController* content) {
             content->promptTextView()->setPlainText(prompt);
             settle();
             // Shown before the answer can arrive: nothing runs the event loop until the grab.
             content->sendButton()->click();
         }},
        {QStringLiteral("review"), [&generate](ContentViewController* content) { generate(content); }},
        {QStringLiteral("running"),
         [&generate](ContentViewController* content) {
             generate(content);
             content->executeButton()->click();
         }},
        {QStringLiteral("results"),
         [&generate, &execute, &shop](ContentViewController* content) {
             generate(content);
             if (shop) {
                 execute(content);
                 return;
             }
             auto result = std::make_shared<QueryResult>();
             result->columnNames = {QStringLiteral("id"), QStringLiteral("status"), QStringLiteral("total")};
             for (int i = 0; i < 6; ++i)
                 result->rows.append({QString::number(480 - i),
                                      i == 2 ? std::nullopt : SQLValue(QStringLiteral("paid")),
                                      QStringLiteral("%1.50").arg(40 + 13 * i)});
             result->rowCount = 6;
             content->resultsGrid()->setResult(result);
         }},
        {QStringLiteral("error"),
         [&generate, &execute, &unreachable](ContentViewController* content) {
             ConnectionManager::shared().setActiveConnectionId(unreachable.connectionId);
             content->connectionsChanged();
             generate(content);
             execute(content);
         }},
        {QStringLiteral("history-filtered"),
         [](ContentViewController* content) {
             content->filterHistory(QStringLiteral("orders"));
             content->showMainView(ContentViewController::MainView::History);
             settle();
         }},
    };
    for (const QSize size : {QSize(760, 700), QSize(1040, 700)}) {
        for (const auto& [name, drive] : states) {
            connections.setActiveConnectionId(shopOrSample.connectionId);
            auto* content = new ContentViewController;
            content->resize(size);
            content->show();
            settle();
            drive(content);
            gallery.save(content->grab(), QStringLiteral("ContentViewController-%1-%2").arg(name).arg(size.width()));
            delete content;
            settle();
        }
    }
    // A write the destructive check lets through: the server refuses it read-only, and the
    // question comes with its reason.
    if (shop) {
        connections.setActiveConnectionId(shopOrSample.connectionId);
        history.addRecord(QueryRecord::make(
            QStringLiteral("Reserve the next order number"),
            QStringLiteral("SELECT nextval(pg_get_serial_sequence('orders', 'id')) AS next_order_number")));
        auto* content = new ContentViewController;
        content->resize(760, 700);
        content->show();
        settle();
        content->loadHistoryRecordAtIndex(0);
        content->executeButton()->click();
        QMessageBox* alert = nullptr;
        settleUntil(
            [content, &alert] {
                alert = content->findChild<QMessageBox*>(QStringLiteral("confirmRunAlert"));
                return alert && alert->isVisible();
            },
            20000);
        if (alert) {
            gallery.save(alert->grab(), QStringLiteral("ContentViewController-refused-alert"));
            gallery.save(content->grab(), QStringLiteral("ContentViewController-refused-760"));
            alert->escapeButton()->click();
            settle();
            gallery.save(content->grab(), QStringLiteral("ContentViewController-notRun-760"));
        }
        delete content;
        settle();
    }
    // The whole main window: recents and the active connection in the sidebar, a result in
    // the workspace.
    {
        connections.setActiveConnectionId(shopOrSample.connectionId);
        MainWindowController window;
        window.resize(MainWindowController::kInitialWidth, MainWindowController::kInitialHeight);
        window.show();
        settle();
        for (const auto& [name, drive] : states) {
            if (name == QStringLiteral("results"))
                drive(window.content());
        }
        window.sidebar()->reloadRecents();
        settle();
        gallery.save(window.grab(), QStringLiteral("MainWindowController-results"));
    }
    connections.removeConnectionWithId(shopOrSample.connectionId);
    connections.removeConnectionWithId(unreachable.connectionId);
    connections.setActiveConnectionId(previous);
    history.clearAll();
}

void addSampleConnections()
{
    ConnectionManager& manager = ConnectionManager::shared();
    const auto add = [&manager](const QString& name, const QString& host, qint64 port) {
        DatabaseConnection connection;
        connection.name = name;
        connection.host = host;
        connection.port = port;
        manager.addConnection(connection);
        return connection.connectionId;
    };
    manager.setActiveConnectionId(add(QStringLiteral("Production"), QStringLiteral("db.internal"), 5432));
    add(QString(), QString(), 3306);
    add(QStringLiteral("Analytics"), QStringLiteral("analytics.example.com"), 5433);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A scratch home, so the sample connections never touch the user's own files.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        QTextStream(stderr) << "Cannot create a temporary folder.\n";
        return 1;
    }
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, QFile::encodeName(scratch.filePath(QString::fromLatin1(variable))));
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QTextStream err(stderr);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        err << "Usage: gallery <output folder>\n";
        return 2;
    }
    QDir folder(args.at(1));
    if (!folder.mkpath(QStringLiteral("."))) {
        err << "Cannot create the folder " << args.at(1) << ".\n";
        return 1;
    }

    addSampleConnections();
    Gallery gallery(folder);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(MRTheme::palette(dark));
        gallery.setAppearance(dark ? QStringLiteral("dark") : QStringLiteral("light"));
        shootAll(gallery);
        shootBanner(gallery);
        shootLogin(gallery);
        shootMenus(gallery);
        shootGrid(gallery);
        shootSQLView(gallery);
        shootSheet(gallery);
        shootSidebar(gallery);
        gallery.saveOverview();
        // Whole panes, too large for the overview sheet.
        shootWorkspace(gallery);
    }
    for (const QString& file : gallery.failed())
        err << "Could not write " << file << ".\n";
    QTextStream(stdout) << gallery.written() << " pictures in " << folder.absolutePath() << "\n";
    return gallery.failed().isEmpty() && gallery.written() > 0 ? 0 : 1;
}
