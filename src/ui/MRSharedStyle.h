#pragma once

#include <QApplication>
#include <QPointer>
#include <QStyle>

// One proxy style of a kind per base style, owned by the application: the widgets that use
// it never own it, and a change of the application's style brings a new one over the new
// base. Style is a QProxyStyle made from the base style's name.
template <typename Style> Style* sharedProxyStyle()
{
    static QPointer<Style> style;
    const QString base = QApplication::style()->name();
    if (!style || style->baseStyle()->name() != base) {
        style = new Style(base);
        style->setParent(qApp);
    }
    return style;
}
