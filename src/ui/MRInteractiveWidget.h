#pragma once

#include "ui/MRFocusRing.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFocusEvent>

// How strongly a disabled house widget is drawn: its content at this opacity.
inline constexpr qreal kMRDisabledOpacity = 0.4;

// Hover and keyboard-focus tracking for the house widgets that answer the pointer and the
// keyboard. Every change of hover, focus, enabled state or palette goes through
// updateAppearance(), so each widget repaints from the palette in force.
template <typename Base> class MRInteractiveWidget : public Base
{
public:
    using Base::Base;

    bool isHovered() const { return m_hovered; }

protected:
    // Repaints for a change of hover, focus, state or appearance.
    virtual void updateAppearance() { this->update(); }
    // Whether the keyboard focus ring is to be drawn now.
    bool showsFocusRing() const { return m_focusRing && this->hasFocus(); }

    void enterEvent(QEnterEvent* event) override
    {
        m_hovered = true;
        updateAppearance();
        Base::enterEvent(event);
    }

    void leaveEvent(QEvent* event) override
    {
        m_hovered = false;
        updateAppearance();
        Base::leaveEvent(event);
    }

    void focusInEvent(QFocusEvent* event) override
    {
        MRFocusRing::track(m_focusRing, event);
        updateAppearance();
        Base::focusInEvent(event);
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        MRFocusRing::track(m_focusRing, event);
        updateAppearance();
        Base::focusOutEvent(event);
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
            updateAppearance();
        Base::changeEvent(event);
    }

private:
    bool m_hovered = false;
    bool m_focusRing = false;
};
