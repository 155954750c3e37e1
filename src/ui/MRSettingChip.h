#pragma once

#include "ui/MRAccessibleElement.h"
#include "ui/MRIcon.h"
#include "ui/MRInteractiveWidget.h"
#include "ui/MRTheme.h"

#include <QWidget>

// A small rounded on/off toggle for one generation setting: its icon takes the setting's
// colour and the chip an accent wash while on. A press toggles it.
class MRSettingChip : public MRInteractiveWidget<QWidget>, public MRAccessibleElement
{
    Q_OBJECT

public:
    MRSettingChip(const QString& symbol, const QString& label, const MRColor& iconColor, QWidget* parent = nullptr);

    bool isOn() const { return m_on; }
    // From code: never emits toggled().
    void setOn(bool on);
    // Flips the state, then emits toggled() with the new state: what a press does.
    void toggle();

    QString settingName() const { return m_settingName; }
    void setSettingName(const QString& name) { m_settingName = name; }
    QString settingDetail() const { return m_settingDetail; }
    // Also the chip's tooltip.
    void setSettingDetail(const QString& detail);

    QString label() const { return m_label; }
    MRColor iconColor() const { return m_iconColor; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    QAccessible::Role accessibleRole() const override { return QAccessible::CheckBox; }
    QString accessibleLabel() const override { return m_settingName; }
    QString accessibleValue() const override;
    bool accessibleCheckable() const override { return true; }
    bool accessibleChecked() const override { return m_on; }
    void accessiblePress() override { toggle(); }

Q_SIGNALS:
    // Only for the user's toggles.
    void toggled(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    MRIcon m_icon;
    QString m_label;
    MRColor m_iconColor;
    bool m_on = false;
    QString m_settingName;
    QString m_settingDetail;
};
