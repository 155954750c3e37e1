#pragma once

#include <QAccessibleWidget>

class MRAccessibleElement;

// The accessibility interface of every widget that implements MRAccessibleElement.
class MRAccessible final : public QAccessibleWidget
{
public:
    explicit MRAccessible(QWidget* widget);

    // Registers the factory once; widgets call it when they are created.
    static void install();

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    MRAccessibleElement* element() const;
};
