#include "ui/MRAccessible.h"

#include "ui/MRAccessibleElement.h"

#include <QWidget>

namespace {

QAccessibleInterface* factory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && dynamic_cast<MRAccessibleElement*>(widget))
        return new MRAccessible(widget);
    return nullptr;
}

} // namespace

MRAccessible::MRAccessible(QWidget* widget) : QAccessibleWidget(widget) {}

void MRAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed)
}

MRAccessibleElement* MRAccessible::element() const
{
    return dynamic_cast<MRAccessibleElement*>(widget());
}

QAccessible::Role MRAccessible::role() const
{
    const MRAccessibleElement* e = element();
    return e ? e->accessibleRole() : QAccessible::Client;
}

QAccessible::State MRAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    if (const MRAccessibleElement* e = element()) {
        s.checkable = e->accessibleCheckable();
        s.checked = e->accessibleCheckable() && e->accessibleChecked();
    }
    return s;
}

QString MRAccessible::text(QAccessible::Text t) const
{
    const MRAccessibleElement* e = element();
    if (e && t == QAccessible::Name) {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? e->accessibleLabel() : name;
    }
    if (e && t == QAccessible::Value)
        return e->accessibleValue();
    return QAccessibleWidget::text(t);
}

QStringList MRAccessible::actionNames() const
{
    if (!element())
        return {};
    QStringList names{pressAction()};
    if (element()->accessibleCheckable())
        names.append(toggleAction());
    return names;
}

void MRAccessible::doAction(const QString& actionName)
{
    MRAccessibleElement* e = element();
    if (!e || !widget()->isEnabled())
        return;
    if (actionName == pressAction() || (actionName == toggleAction() && e->accessibleCheckable()))
        e->accessiblePress();
}

QStringList MRAccessible::keyBindingsForAction(const QString&) const
{
    return {};
}
