#pragma once

#include "common/Status.h"
#include "storage/CompactionProbe.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace corvidan::storage {

namespace detail {

/// An open descriptor closed at the end of its scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    ~Fd();
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

QByteArray nativePath(const QString& path);
common::Status errnoStatus(const QString& path, int err);

/// Opens `path`; a missing file or folder reports NotFound.
common::Status openFile(const QString& path, int flags, Fd& fd, mode_t mode = 0644);
/// openFile for a file that will be written: a symbolic link in its place is
/// refused (nothing reaches the link's target).
common::Status openForWriting(const QString& path, int flags, Fd& fd, mode_t mode = 0644);

/// The exclusive advisory lock (flock) that every writer of the record files in
/// one folder holds around an append, a mark or a compaction, whichever process it
/// is. The folder is locked, not the file: a compaction renames a new file over
/// the old one, and a lock on the old inode would stop nobody. After acquiring it a
/// writer opens the file anew, so it never writes into a file already replaced.
class WriterLock {
public:
    /// Waits at most waitLimitMs() for a writer in another process or object.
    static common::Status acquire(const QString& filePath, WriterLock& lock);
    static int waitLimitMs();
    /// Tests shorten the wait; a value <= 0 restores the default.
    static void setWaitLimitMs(int ms);
    bool held() const { return m_fd.valid(); }

private:
    Fd m_fd;
};
/// Size of the file at `path`, or empty when it does not exist.
std::optional<qint64> fileSize(const QString& path);

/// Reads up to `len` bytes at `offset`; returns the bytes read (short only at end of file), -1 on
/// error.
qint64 readAt(int fd, char* buf, qint64 len, qint64 offset);
common::Status writeAt(int fd, const char* buf, qint64 len, qint64 offset,
                       const QString& pathForErrors);

/// Replaces the file at `path` through a flushed temporary file renamed over it.
/// The temporary file is created with the mode of the file it replaces, or
/// `newMode` when there is none, so a private file is never readable by others.
common::Status replaceFilePrivately(const QString& path, const QByteArray& data, mode_t newMode);

/// Puts a scratch file left by an interrupted compaction back as the record file
/// when the record file itself is missing; anything else is left alone.
common::Status restoreScratch(const QString& path, const QString& scratch);

/// Fixed-record layout seen by the generic operations.
struct RecordLayout {
    int size;
    int liveOffset;
    int headerBytes; ///< leading bytes of each record handed to a scan
};

/// Called for each whole record with its leading `headerBytes` bytes and its live flag.
using RecordVisitor = std::function<void(qint64 index, const char* header, std::int16_t live)>;

/// Visits every whole record of an open file without reading the bytes in between.
common::Status scanRecords(int fd, qint64 count, const RecordLayout& layout,
                           const RecordVisitor& visit, const QString& pathForErrors);

/// Rewrites the file at `path` keeping only records whose live flag is not 0: the
/// survivors are copied into `scratch`, which is flushed and renamed over `path`.
/// `survivor` sees each surviving record's header in its new order.
common::Status compactRecords(const QString& path, const QString& scratch,
                              const RecordLayout& layout, const CompactionProbe& probe,
                              const std::function<void(const char* header)>& survivor = {});

} // namespace detail
} // namespace corvidan::storage
