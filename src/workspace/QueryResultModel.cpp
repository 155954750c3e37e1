#include "workspace/QueryResultModel.h"

#include <QCoreApplication>

namespace {

const QString& nullText()
{
    static const QString text = QCoreApplication::translate("QueryResultModel", "NULL");
    return text;
}

} // namespace

QueryResultModel::QueryResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void QueryResultModel::setResult(QueryResultPtr result)
{
    beginResetModel();
    m_result = std::move(result);
    endResetModel();
}

bool QueryResultModel::looksNumeric(QStringView value)
{
    bool digit = false;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            digit = true;
            break;
        case '.':
        case ',':
        case '+':
        case '-':
        case 'e':
        case 'E':
        case '$':
        case ' ':
            break;
        default:
            return false;
        }
    }
    return digit;
}

int QueryResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_result ? 0 : int(m_result->rows.size());
}

int QueryResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_result ? 0 : int(m_result->columnNames.size());
}

QVariant QueryResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const SQLRow& row = m_result->rows[index.row()];
    // A row shorter than the header shows empty cells.
    static const SQLValue missing = QString();
    const SQLValue& value = index.column() < row.size() ? row[index.column()] : missing;

    switch (role) {
    case Qt::DisplayRole:
        return value ? *value : nullText();
    case Qt::TextAlignmentRole:
        return int((value && looksNumeric(*value) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case IsNullRole:
        return !value.has_value();
    default:
        return {};
    }
}

QVariant QueryResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    return m_result->columnNames[section];
}

Qt::ItemFlags QueryResultModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}
