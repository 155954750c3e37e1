#pragma once

#include "ui/MRIcon.h"
#include "ui/MRRowView.h"

// A large clickable row for a suggested prompt: an icon on a small tile, then the title.
class MRSuggestionRow : public MRRowView
{
    Q_OBJECT

public:
    MRSuggestionRow(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintRow(QPainter& painter) override;

private:
    QString m_title;
    MRIcon m_icon;
};
