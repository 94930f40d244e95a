#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace corvidan::storage::detail {

/// What identifies one version of a history file's content.
struct FileStamp {
    qint64 size = 0;
    qint64 mtimeSec = 0, mtimeNsec = 0;
    qint64 ctimeSec = 0, ctimeNsec = 0;
    quint64 inode = 0, device = 0;
    quint32 mode = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> stampOf(int fd);

/// A summary file beside a history holding the 280 header bytes of every record,
/// so a listing need not touch the bodies. It is a cache: it is believed only
/// when it names the history's exact size, times and inode, its own checksum
/// holds, and the first and last headers agree with the history itself.
class HistoryIndex {
public:
    explicit HistoryIndex(const QString& historyPath);
    const QString& path() const { return m_path; }

    /// Hands the header bytes of every whole record to `visit`; false when the
    /// summary cannot be trusted, and then everything visited must be dropped.
    bool load(const FileStamp& history, int historyFd,
              const std::function<void(const char* entry)>& visit) const;
    /// Replaces the summary (through a temporary file and a rename).
    void store(const FileStamp& history, const QByteArray& headers) const;
    /// Extends a summary that matched `before` by one record written at the end.
    void appendEntry(const FileStamp& before, const FileStamp& after, const char* header) const;
    /// The same for records appended together.
    void appendEntries(const FileStamp& before, const FileStamp& after, const std::vector<QByteArrayView>& records) const;
    void remove() const;

private:
    QString m_path;
};

} // namespace corvidan::storage::detail
