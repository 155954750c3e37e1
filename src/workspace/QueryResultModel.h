#pragma once

#include "db/QueryResult.h"

#include <QAbstractTableModel>

// Presents one QueryResult as a read-only table: a column per column name, a row per kept
// row. The rows are read from the result in place, never copied.
class QueryResultModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueryResultModel)

public:
    enum Role {
        // true for a NULL entry, which shows as "NULL" but is no value.
        IsNullRole = Qt::UserRole + 1,
    };

    explicit QueryResultModel(QObject* parent = nullptr);

    QueryResultPtr result() const { return m_result; }
    void setResult(QueryResultPtr result);

    // Whether a value is shown right-aligned: not empty, made only of digits and
    // ".,+-eE$ ", and holding at least one digit.
    static bool looksNumeric(QStringView value);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QueryResultPtr m_result;
};
