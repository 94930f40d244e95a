#pragma once

#include "storage/MailRecord.h"

#include <QAbstractTableModel>
#include <vector>

namespace corvidan::history {

/// The history list: row k is record k, columns Subject, From (the stored
/// address) and Date, each cell the field cut at its first NUL, blanks kept.
/// Built from the header fields only, so listing never reads a body.
class HistoryListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SubjectColumn = 0, FromColumn = 1, DateColumn = 2, ColumnCount = 3 };

    using QAbstractTableModel::QAbstractTableModel;

    /// Replaces every row at once.
    void setHeaders(std::vector<storage::MailHeader> headers);
    void clear();
    const storage::MailHeader& header(int row) const { return m_headers.at(static_cast<size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<storage::MailHeader> m_headers;
};

} // namespace corvidan::history
