#include "update/UpdateBannerView.h"

#include "ui/MRButton.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"
#include "update/UpdateManager.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>

namespace {

constexpr int kIconSize = 15;
constexpr int kIconLeading = 16;
constexpr int kMessageGap = 9;
constexpr int kMessageTrailingGap = 12;
constexpr int kButtonTrailing = 14;
constexpr int kButtonGap = 8;
constexpr int kProgressTrailing = 16;
constexpr int kProgressWidth = 170;
constexpr int kProgressHeight = 6;
constexpr int kPercentGap = 8;
constexpr int kProgressSteps = 1000;
constexpr qreal kBackgroundAlpha = 0.10;
constexpr int kDefaultHeight = 52;

} // namespace

UpdateBannerView::UpdateBannerView(QWidget* parent)
    : QWidget(parent), m_icon(MRStyleKit::sparkleViewOfSize(kIconSize)), m_message(new MRLabel),
      m_updateButton(MRStyleKit::primaryButtonWithTitle(tr("Update"))),
      m_laterButton(MRStyleKit::ghostButtonWithTitle(tr("Later"))), m_progress(new QProgressBar), m_percent(new MRLabel)
{
    for (QWidget* part :
         {static_cast<QWidget*>(m_icon), static_cast<QWidget*>(m_message), static_cast<QWidget*>(m_updateButton),
          static_cast<QWidget*>(m_laterButton), static_cast<QWidget*>(m_progress), static_cast<QWidget*>(m_percent)})
        part->setParent(this);

    m_message->setFont(MRTheme::uiFont(13, QFont::Medium));
    m_message->setTextColor(MRTheme::textPrimary());
    m_message->setTextFormat(Qt::PlainText);

    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->hide();

    m_percent->setFont(MRTheme::monoFont(11.5));
    m_percent->setTextColor(MRTheme::textSecondary());
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_percent->setTextFormat(Qt::PlainText);
    m_percent->hide();

    connect(m_updateButton, &QAbstractButton::clicked, this, &UpdateBannerView::updateTapped);
    connect(m_laterButton, &QAbstractButton::clicked, this, &UpdateBannerView::dismissed);
    layoutParts();
}

QSize UpdateBannerView::sizeHint() const
{
    return {640, kDefaultHeight};
}

void UpdateBannerView::presentUpdate(const UpdateInfo& info)
{
    m_info = info;
    if (UpdateManager::shared().installKind() == UpdateManager::InstallKind::PackageManager) {
        setMessage(tr("Mirelo %1 is available from your package manager.").arg(info.version), false);
        m_state = State::PackageManagerOffer;
    } else {
        setMessage(tr("Mirelo %1 is available.").arg(info.version), false);
        m_state = State::Offer;
    }
    m_message->setToolTip(info.notes.value_or(QString()));
    setOfferState();
}

void UpdateBannerView::setOfferState()
{
    m_updateButton->setVisible(m_state != State::PackageManagerOffer);
    m_updateButton->setEnabled(true);
    m_laterButton->show();
    m_progress->hide();
    m_percent->hide();
    layoutParts();
}

void UpdateBannerView::setBusyMessage(const QString& text)
{
    m_state = State::Downloading;
    setMessage(text, false);
    m_updateButton->hide();
    m_laterButton->hide();
    m_progress->show();
    m_percent->show();
    layoutParts();
}

void UpdateBannerView::setProgress(double fraction)
{
    const double clamped = qBound(0.0, fraction, 1.0);
    m_progress->setValue(qRound(clamped * kProgressSteps));
    m_percent->setText(QString::asprintf("%.0f%%", clamped * 100));
}

void UpdateBannerView::showRestarting()
{
    m_state = State::Restarting;
    setMessage(tr("Restarting to finish update…"), false);
    m_updateButton->hide();
    m_laterButton->hide();
    m_progress->hide();
    m_percent->hide();
    layoutParts();
}

void UpdateBannerView::showError(const QString& text)
{
    m_state = State::Error;
    setMessage(text, true);
    m_message->setToolTip(text);
    // The title stays "Retry" from now on, also for a later offer.
    m_updateButton->setStyledTitle(MRStyleKit::titleString(tr("Retry"), MRTheme::onAccent(), QFont::DemiBold, 13));
    setOfferState();
}

void UpdateBannerView::updateTapped()
{
    if (!m_info)
        return;
    setBusyMessage(tr("Downloading update…"));
    setProgress(0.0);
    QPointer<UpdateBannerView> self(this);
    UpdateManager::shared().downloadAndInstall(
        *m_info,
        [self](double fraction) {
            if (self)
                self->setProgress(fraction);
        },
        [self](const QString& error) {
            if (!self)
                return;
            if (error.isEmpty())
                self->showRestarting();
            else
                self->showError(error);
        });
}

void UpdateBannerView::setMessage(const QString& text, bool danger)
{
    m_messageText = text;
    m_message->setTextColor(danger ? MRTheme::danger() : MRTheme::textPrimary());
    layoutParts();
}

void UpdateBannerView::layoutParts()
{
    const int w = width();
    const int h = height();
    const auto centred = [h](QWidget* widget, int right, int width, int height) {
        widget->setGeometry(right - width, (h - height) / 2, width, height);
    };

    m_icon->setGeometry(kIconLeading, (h - kIconSize) / 2, kIconSize, kIconSize);

    const int updateWidth = m_updateButton->sizeHint().width();
    const int laterWidth = m_laterButton->sizeHint().width();
    const int buttonHeight = m_updateButton->height();
    int right = w - kButtonTrailing;
    if (!m_updateButton->isHidden()) {
        centred(m_updateButton, right, updateWidth, buttonHeight);
        right -= updateWidth + kButtonGap;
    }
    centred(m_laterButton, right, laterWidth, m_laterButton->height());

    const int progressRight = w - kProgressTrailing;
    centred(m_progress, progressRight, kProgressWidth, kProgressHeight);
    const QFontMetrics percentMetrics(m_percent->font());
    const int percentWidth = percentMetrics.horizontalAdvance(QStringLiteral("100%"));
    const int percentRight = progressRight - kProgressWidth - kPercentGap;
    centred(m_percent, percentRight, percentWidth, percentMetrics.height());

    // The message ends 12 before the percentage, and never runs under a visible button.
    int messageRight = percentRight - percentWidth - kMessageTrailingGap;
    for (const QWidget* button : {static_cast<QWidget*>(m_laterButton), static_cast<QWidget*>(m_updateButton)}) {
        if (!button->isHidden())
            messageRight = qMin(messageRight, button->x() - kMessageTrailingGap);
    }
    const int messageLeft = kIconLeading + kIconSize + kMessageGap;
    const int messageWidth = qMax(0, messageRight - messageLeft);
    const QFontMetrics metrics(m_message->font());
    m_message->setText(metrics.elidedText(m_messageText, Qt::ElideRight, messageWidth));
    m_message->setGeometry(messageLeft, (h - metrics.height()) / 2, messageWidth, metrics.height());
}

void UpdateBannerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), MRWidgetTheme::resolve(MRTheme::accent().withAlpha(kBackgroundAlpha), this));
    painter.fillRect(QRect(0, height() - 1, width(), 1), MRWidgetTheme::resolve(MRTheme::hairline(), this));
}

void UpdateBannerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutParts();
}

void UpdateBannerView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
