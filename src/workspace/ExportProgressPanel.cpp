#include "workspace/ExportProgressPanel.h"

#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kWidth = 380;
// The bar counts in thousandths, so that any number of rows fits its int range.
constexpr int kSteps = 1000;

MRLabel* makeLabel(const QString& text, const QFont& font, const MRColor& color)
{
    auto* label = new MRLabel(text);
    label->setFont(font);
    label->setTextColor(color);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

ExportProgressPanel::ExportProgressPanel(const QString& fileName, std::optional<quint64> total, QWidget* parent)
    : QDialog(parent), m_total(total),
      m_title(makeLabel(total ? tr("Exporting all %1 rows to “%2”…").arg(*total).arg(fileName)
                              : tr("Exporting the rows to “%1”…").arg(fileName),
                        MRTheme::uiFont(13, QFont::DemiBold), MRTheme::textPrimary())),
      m_bar(new QProgressBar), m_progress(makeLabel(QString(), MRTheme::uiFont(12), MRTheme::textSecondary())),
      m_cancel(MRStyleKit::ghostButtonWithTitle(tr("Cancel"), this, [this] { reject(); }))
{
    setWindowTitle(tr("Export CSV"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);

    m_title->setWordWrap(true);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(6);
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
        m_progress->setText(tr("%1 of %2 rows written").arg(m_rows).arg(*m_total));
    } else {
        m_bar->setRange(0, 0);
        m_progress->setText(tr("%1 rows written").arg(m_rows));
    }
}
