#pragma once

#include "update/UpdateInfo.h"

#include <QWidget>
#include <optional>

class MRButton;
class MRImageView;
class MRLabel;
class QProgressBar;

// The strip across the top of the workspace that offers a newer build, installs it when
// the user agrees, shows the download's progress and what went wrong, with a way to try
// again. The host gives it its full width and a height of its choosing, keeps it hidden
// until there is an offer, and hides it again on dismissed().
class UpdateBannerView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateBannerView)

public:
    enum class State { Offer, PackageManagerOffer, Downloading, Restarting, Error };

    explicit UpdateBannerView(QWidget* parent = nullptr);

    // Remembers the offer and shows it. A copy installed by the package manager is told
    // where to get the build instead of being offered the Update button.
    void presentUpdate(const UpdateInfo& info);
    std::optional<UpdateInfo> info() const { return m_info; }
    State state() const { return m_state; }

    void setOfferState();
    // Shows text with the progress bar and percentage instead of the buttons.
    void setBusyMessage(const QString& text);
    // One progress report of the download, a fraction from 0.0 to 1.0.
    void setProgress(double fraction);
    void showRestarting();
    void showError(const QString& text);

    // The parts, for hosts that lay out around them and for tests.
    MRLabel* message() const { return m_message; }
    MRButton* updateButton() const { return m_updateButton; }
    MRButton* laterButton() const { return m_laterButton; }
    QProgressBar* progress() const { return m_progress; }
    MRLabel* percent() const { return m_percent; }
    // The whole message; the label shows it cut short with an ellipsis when it is too long.
    QString messageText() const { return m_messageText; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // "Later" was pressed: the host hides the banner.
    void dismissed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateTapped();
    void setMessage(const QString& text, bool danger);
    void layoutParts();

    MRImageView* m_icon;
    MRLabel* m_message;
    MRButton* m_updateButton;
    MRButton* m_laterButton;
    QProgressBar* m_progress;
    MRLabel* m_percent;
    std::optional<UpdateInfo> m_info;
    QString m_messageText;
    State m_state = State::Offer;
};
