#include "workspace/ExportProgressPanel.h"

#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kWidth = 400;
// The bar counts in thousandths, so that any number of rows fits its int range.
constexpr int kSteps = 1000;
constexpr int kBarHeight = 6;
constexpr int kSweepStepMs = 30;
constexpr qreal kSweepShare = 0.3; // of the track, the part that sweeps while the end is unknown

// The house bar: a rounded track in the hairline colour filled with the accent; without a
// known end (an empty range) a short stretch of accent sweeps along it.
class ProgressTrack final : public QProgressBar
{
public:
    ProgressTrack() : m_sweep(new QTimer(this))
    {
        setTextVisible(false);
        setFixedHeight(kBarHeight);
        m_sweep->setInterval(kSweepStepMs);
        connect(m_sweep, &QTimer::timeout, this, [this] {
            m_phase = (m_phase + 1) % 100;
            update();
        });
    }

    // The sweep turns only while it shows and has nothing to count.
    void updateSweep()
    {
        const bool sweeping = isVisible() && maximum() == minimum();
        if (sweeping && !m_sweep->isActive())
            m_sweep->start();
        else if (!sweeping)
            m_sweep->stop();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QRectF track = rect();
        const qreal radius = track.height() / 2;
        painter.setBrush(MRWidgetTheme::resolve(MRTheme::hairline(), this));
        painter.drawRoundedRect(track, radius, radius);
        QRectF fill = track;
        if (maximum() > minimum()) {
            fill.setWidth(track.width() * (value() - minimum()) / (maximum() - minimum()));
        } else {
            const qreal width = track.width() * kSweepShare;
            fill =
                QRectF(-width + (track.width() + width) * m_phase / 100.0, 0, width, track.height()).intersected(track);
        }
        if (fill.width() <= 0)
            return;
        painter.setClipRect(fill);
        painter.setBrush(MRWidgetTheme::resolve(MRTheme::accent(), this));
        painter.drawRoundedRect(track, radius, radius);
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            update();
        QProgressBar::changeEvent(event);
    }

    void showEvent(QShowEvent* event) override
    {
        QProgressBar::showEvent(event);
        updateSweep();
    }

    void hideEvent(QHideEvent* event) override
    {
        QProgressBar::hideEvent(event);
        updateSweep();
    }

private:
    QTimer* m_sweep;
    int m_phase = 40; // hundredths of the sweep's way; it starts in view
};

} // namespace

ExportProgressPanel::ExportProgressPanel(const QString& fileName, std::optional<quint64> total, QWidget* parent)
    : QDialog(parent), m_total(total),
      m_title(MRLabel::plainText(total ? tr("Exporting all %L1 rows to “%2”…").arg(*total).arg(fileName)
                                       : tr("Exporting the rows to “%1”…").arg(fileName),
                                 MRTheme::uiFont(13, QFont::DemiBold), MRTheme::textPrimary())),
      m_bar(new ProgressTrack),
      m_progress(MRLabel::plainText(QString(), MRTheme::uiFont(12), MRTheme::textSecondary())),
      m_cancel(MRStyleKit::ghostButtonWithTitle(tr("Cancel"), this, [this] { reject(); }))
{
    setWindowTitle(tr("Export CSV"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);

    m_title->setWordWrap(true);
    m_bar->setAccessibleName(tr("Rows written"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addSpacing(12);
    layout->addWidget(m_bar);
    layout->addSpacing(8);
    layout->addWidget(m_progress);
    layout->addSpacing(14);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    showProgress();
}

void ExportProgressPanel::setRowsWritten(quint64 rows)
{
    m_rows = rows;
    showProgress();
}

void ExportProgressPanel::showProgress()
{
    // A result that grew since it was shown has no known end any more.
    if (m_total && *m_total > 0 && m_rows <= *m_total) {
        m_bar->setRange(0, kSteps);
        m_bar->setValue(int(std::min<quint64>(kSteps, m_rows * kSteps / *m_total)));
        m_progress->setText(tr("%L1 of %L2 rows written").arg(m_rows).arg(*m_total));
    } else {
        m_bar->setRange(0, 0);
        m_progress->setText(tr("%L1 rows written").arg(m_rows));
    }
    static_cast<ProgressTrack*>(m_bar)->updateSweep();
}
