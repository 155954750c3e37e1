#pragma once

#include "ui/MRIcon.h"
#include "ui/MRStyledText.h"
#include "ui/MRTheme.h"

#include <QString>
#include <functional>

class MRButton;
class MRCardView;
class MRImageView;
class MRLabel;
class QAction;
class QMenu;
class QObject;
class QWidget;

// Factories for the shared building blocks of every screen. Each call returns a new widget
// without a parent; the caller places it. An action runs on click while target lives.
class MRStyleKit final
{
public:
    MRStyleKit() = delete;

    using Action = std::function<void()>;

    // The named symbol, semibold when weight is at least QFont::DemiBold and regular
    // otherwise; no image for a name the catalogue does not know.
    static MRIcon symbol(const QString& name, qreal pointSize, int weight);
    static MRStyledText titleString(const QString& text, const MRColor& color, int weight, qreal size);

    static MRButton* primaryButtonWithTitle(const QString& title, const QObject* target = nullptr, Action action = {});
    static MRButton* ghostButtonWithTitle(const QString& title, const QObject* target = nullptr, Action action = {});
    static MRButton* sendButtonWithTarget(const QObject* target = nullptr, Action action = {});
    // Its size is left to the caller.
    static MRButton* iconButtonWithSymbol(const QString& name, const QString& accessibilityLabel,
                                          const QObject* target = nullptr, Action action = {});

    static MRIcon sparkleImageOfSize(qreal size);
    static MRImageView* sparkleViewOfSize(qreal size);

    static MRCardView* cardViewWithRadius(qreal radius);
    static MRCardView* cardView();
    static MRLabel* sectionHeader(const QString& text);

    // The connection pick menu, read from ConnectionManager as it is now: "No database",
    // the connections (with host and port when showDetail), a check mark on the active one,
    // and "Manage Databases…". selectAction gets the chosen item; its data() is the
    // connection id, or nothing for "No database".
    static QMenu* connectionMenuForTarget(const QObject* target, std::function<void(QAction*)> selectAction,
                                          Action manageAction, bool showDetail, QWidget* parent = nullptr);
};
