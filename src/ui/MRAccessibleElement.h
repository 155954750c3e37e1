#pragma once

#include <QAccessible>
#include <QString>

// What a house widget tells assistive technology: its role, label and value, and what its
// press action does. MRAccessible turns it into an accessibility interface.
class MRAccessibleElement
{
public:
    virtual ~MRAccessibleElement() = default;

    virtual QAccessible::Role accessibleRole() const = 0;
    virtual QString accessibleLabel() const = 0;
    virtual QString accessibleValue() const { return {}; }
    virtual bool accessibleCheckable() const { return false; }
    virtual bool accessibleChecked() const { return false; }
    virtual void accessiblePress() = 0;
};
