#include "history/HistoryListModel.h"

#include "common/FixedField.h"

namespace corvidan::history {

void HistoryListModel::setHeaders(std::vector<storage::MailHeader> headers)
{
    beginResetModel();
    m_headers = std::move(headers);
    endResetModel();
}

void HistoryListModel::clear()
{
    setHeaders({});
}

int HistoryListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

int HistoryListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    const storage::MailHeader& h = header(index.row());
    switch (index.column()) {
    case SubjectColumn: return common::CutAtNul(h.Subject);
    case FromColumn: return common::CutAtNul(h.Address);
    case DateColumn: return common::CutAtNul(h.Date);
    default: return {};
    }
}

QVariant HistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case SubjectColumn: return QStringLiteral("Subject");
    case FromColumn: return QStringLiteral("From");
    case DateColumn: return QStringLiteral("Date");
    default: return {};
    }
}

} // namespace corvidan::history
