#include "storage/RecordFile.h"

#include "common/Durable.h"
#include "common/FixedField.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>
#include <vector>

namespace corvidan::storage::detail {

using common::ErrorCode;
using common::Status;

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int Fd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

Status errnoStatus(const QString& path, int err)
{
    const ErrorCode code = err == ENOENT ? ErrorCode::NotFound : common::durable::codeForErrno(err);
    return Status::fail(code,
                        path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
}

Status openFile(const QString& path, int flags, Fd& fd, mode_t mode)
{
    const int raw = ::open(nativePath(path).constData(), flags | O_CLOEXEC, mode);
    if (raw < 0)
        return errnoStatus(path, errno);
    fd = Fd(raw);
    return Status::ok();
}

Status openForWriting(const QString& path, int flags, Fd& fd, mode_t mode)
{
    const int raw = ::open(nativePath(path).constData(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
    if (raw >= 0) {
        fd = Fd(raw);
        return Status::ok();
    }
    const int err = errno;
    struct stat st {};
    if ((err == ELOOP || err == EEXIST) && ::lstat(nativePath(path).constData(), &st) == 0 &&
        S_ISLNK(st.st_mode))
        return Status::fail(ErrorCode::Io, common::Reason::SymbolicLink, path);
    return errnoStatus(path, err);
}

namespace {

constexpr int kDefaultLockWaitMs = 10000;
std::atomic<int> lockWaitMs{kDefaultLockWaitMs};

} // namespace

int WriterLock::waitLimitMs()
{
    return lockWaitMs.load();
}

void WriterLock::setWaitLimitMs(int ms)
{
    lockWaitMs.store(ms > 0 ? ms : kDefaultLockWaitMs);
}

Status WriterLock::acquire(const QString& filePath, WriterLock& lock)
{
    const QString folder = QFileInfo(filePath).path();
    const int raw = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (raw < 0) {
        // Reported against the file, as a failed open of the file itself would be.
        return errnoStatus(filePath, errno);
    }
    Fd fd(raw);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitLimitMs());
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return errnoStatus(filePath, errno);
        if (Clock::now() >= deadline)
            return Status::fail(ErrorCode::Io, common::Reason::WriterBusy, filePath, waitLimitMs());
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(8));
    }
    lock.m_fd = std::move(fd);
    return Status::ok();
}

std::optional<qint64> fileSize(const QString& path)
{
    struct stat st {};
    if (::stat(nativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return static_cast<qint64>(st.st_size);
}

qint64 readAt(int fd, char* buf, qint64 len, qint64 offset)
{
    qint64 done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd, buf + done, static_cast<size_t>(len - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

Status writeAt(int fd, const char* buf, qint64 len, qint64 offset, const QString& pathForErrors)
{
    qint64 done = 0;
    while (done < len) {
        const ssize_t n = ::pwrite(fd, buf + done, static_cast<size_t>(len - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoStatus(pathForErrors, errno);
        }
        done += n;
    }
    return Status::ok();
}

Status replaceFilePrivately(const QString& path, const QByteArray& data, mode_t newMode)
{
    struct stat old {};
    const mode_t mode =
        ::stat(nativePath(path).constData(), &old) == 0 ? (old.st_mode & 07777) : newMode;
    const QString temp = path + QStringLiteral(".part");
    ::unlink(nativePath(temp).constData());
    Fd fd;
    if (Status st = openForWriting(temp, O_WRONLY | O_CREAT | O_EXCL, fd, mode); !st)
        return st;
    Status st = writeAt(fd.get(), data.constData(), data.size(), 0, temp);
    if (st)
        st = common::durable::syncDescriptor(fd.get(), temp);
    fd = Fd();
    if (st)
        st = common::durable::renameOver(temp, path);
    if (!st)
        ::unlink(nativePath(temp).constData());
    return st;
}

Status restoreScratch(const QString& path, const QString& scratch)
{
    if (scratch.isEmpty())
        return Status::ok();
    struct stat st {};
    if (::lstat(nativePath(path).constData(), &st) == 0 || errno != ENOENT)
        return Status::ok();
    // A link in the scratch file's place is no unfinished copy of ours.
    if (::lstat(nativePath(scratch).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return Status::ok();
    // The scratch file holds the records of a compaction that never finished.
    return common::durable::renameOver(scratch, path);
}

namespace {

Status shortRead(const QString& path)
{
    return Status::fail(ErrorCode::Corrupt,
                        path + QStringLiteral(": the file shrank while it was read"));
}

/// Small records: read whole chunks of records sequentially.
Status scanSmallRecords(int fd, qint64 count, const RecordLayout& layout,
                        const RecordVisitor& visit, const QString& path)
{
    const qint64 perChunk = std::max<qint64>(1, (1 << 20) / layout.size);
    std::vector<char> buf(static_cast<size_t>(perChunk * layout.size));
    for (qint64 first = 0; first < count; first += perChunk) {
        const qint64 n = std::min(perChunk, count - first);
        const qint64 want = n * layout.size;
        const qint64 got = readAt(fd, buf.data(), want, first * layout.size);
        if (got < 0)
            return errnoStatus(path, errno);
        if (got < want)
            return shortRead(path);
        for (qint64 i = 0; i < n; ++i) {
            const char* rec = buf.data() + i * layout.size;
            visit(first + i, rec, common::readInt16LE(rec + layout.liveOffset));
        }
    }
    return Status::ok();
}

/// Large records: one read per record that takes its live flag together with the
/// header of the record after it, so the bodies are never read.
Status scanLargeRecords(int fd, qint64 count, const RecordLayout& layout,
                        const RecordVisitor& visit, const QString& path)
{
    const bool flagEndsRecord = layout.liveOffset + 2 == layout.size;
    std::vector<char> header(static_cast<size_t>(layout.headerBytes));
    std::vector<char> span(static_cast<size_t>(2 + layout.headerBytes));
    qint64 got = readAt(fd, header.data(), layout.headerBytes, 0);
    if (got != layout.headerBytes)
        return got < 0 ? errnoStatus(path, errno) : shortRead(path);
    for (qint64 i = 0; i < count; ++i) {
        const bool hasNext = i + 1 < count;
        const qint64 want = 2 + ((hasNext && flagEndsRecord) ? layout.headerBytes : 0);
        got = readAt(fd, span.data(), want, i * layout.size + layout.liveOffset);
        if (got != want)
            return got < 0 ? errnoStatus(path, errno) : shortRead(path);
        visit(i, header.data(), common::readInt16LE(span.data()));
        if (!hasNext)
            break;
        if (flagEndsRecord) {
            std::memcpy(header.data(), span.data() + 2, header.size());
        } else {
            got = readAt(fd, header.data(), layout.headerBytes, (i + 1) * layout.size);
            if (got != layout.headerBytes)
                return got < 0 ? errnoStatus(path, errno) : shortRead(path);
        }
    }
    return Status::ok();
}

} // namespace

Status scanRecords(int fd, qint64 count, const RecordLayout& layout, const RecordVisitor& visit,
                   const QString& pathForErrors)
{
    if (count <= 0)
        return Status::ok();
    if (layout.size <= 4096)
        return scanSmallRecords(fd, count, layout, visit, pathForErrors);
    return scanLargeRecords(fd, count, layout, visit, pathForErrors);
}

namespace {

/// Starts the disk writing each piece of the scratch file as soon as it is
/// written, and waits only for the oldest pieces once more than a window's worth is
/// under way: the disk always has a deep queue (a disk far away answers slowly but
/// takes many requests at once), dirty memory stays bounded, and the closing flush
/// has little left to do, where a copy flushed at the end waits for all of it.
class WriteBehind {
public:
    explicit WriteBehind(int fd) : m_fd(fd) {}

    void written(qint64 start, qint64 bytes)
    {
        ::sync_file_range(m_fd, start, bytes, SYNC_FILE_RANGE_WRITE);
        m_pending.push_back({start, bytes});
        m_pendingBytes += bytes;
        while (m_pendingBytes > kWindow) {
            const auto [oldStart, oldBytes] = m_pending.front();
            ::sync_file_range(m_fd, oldStart, oldBytes,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER);
            m_pending.erase(m_pending.begin());
            m_pendingBytes -= oldBytes;
        }
    }

private:
    static constexpr qint64 kWindow = 32 << 20;
    int m_fd;
    std::vector<std::pair<qint64, qint64>> m_pending;
    qint64 m_pendingBytes = 0;
};

/// Small records: whole chunks are read, their live records written back to back.
Status copyLiveRecords(int src, qint64 count, int dst, const RecordLayout& layout,
                       const CompactionProbe& probe,
                       const std::function<void(const char*)>& survivor, const QString& path)
{
    const qint64 perChunk = std::max<qint64>(1, (4 << 20) / layout.size);
    std::vector<char> buf(static_cast<size_t>(perChunk * layout.size));
    WriteBehind behind(dst);
    qint64 written = 0;
    for (qint64 first = 0; first < count; first += perChunk) {
        const qint64 n = std::min(perChunk, count - first);
        const qint64 want = n * layout.size;
        const qint64 got = readAt(src, buf.data(), want, first * layout.size);
        if (got != want)
            return got < 0 ? errnoStatus(path, errno) : shortRead(path);
        // Gather the live records in place, then write them with one call.
        qint64 kept = 0;
        for (qint64 i = 0; i < n; ++i) {
            char* rec = buf.data() + i * layout.size;
            if (common::readInt16LE(rec + layout.liveOffset) == 0)
                continue;
            if (survivor)
                survivor(rec);
            if (kept != i)
                std::memmove(buf.data() + kept * layout.size, rec, static_cast<size_t>(layout.size));
            ++kept;
        }
        if (kept > 0) {
            const qint64 bytes = kept * layout.size;
            if (Status st = writeAt(dst, buf.data(), bytes, written, path); !st)
                return st;
            behind.written(written, bytes);
            written += bytes;
        }
        if (probe)
            probe(CompactionStep::RunCopied);
    }
    return Status::ok();
}

/// Copies `len` bytes from `src` at `from` to `dst` at `to`, inside the kernel when
/// it can (no trip through our memory), else through a buffer.
Status copyRange(int src, qint64 from, int dst, qint64 to, qint64 len, bool& inKernel,
                 std::vector<char>& buf, const QString& path)
{
    while (len > 0 && inKernel) {
        loff_t in = from;
        loff_t out = to;
        const ssize_t n = ::copy_file_range(src, &in, dst, &out, static_cast<size_t>(len), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
                inKernel = false; // this file system cannot: copy the rest by hand
                break;
            }
            return errnoStatus(path, errno);
        }
        if (n == 0)
            return shortRead(path);
        from += n;
        to += n;
        len -= n;
    }
    while (len > 0) {
        if (buf.empty())
            buf.resize(4 << 20);
        const qint64 want = std::min<qint64>(len, static_cast<qint64>(buf.size()));
        const qint64 got = readAt(src, buf.data(), want, from);
        if (got != want)
            return got < 0 ? errnoStatus(path, errno) : shortRead(path);
        if (Status st = writeAt(dst, buf.data(), want, to, path); !st)
            return st;
        from += want;
        to += want;
        len -= want;
    }
    return Status::ok();
}

/// Large records: their flags and headers are read without the bodies, and each
/// run of live records is copied whole (in pieces of a few MiB) as soon as the scan
/// has found its end, so the disk writes while the scan goes on.
Status copyLiveRuns(int src, qint64 count, int dst, const RecordLayout& layout,
                    const CompactionProbe& probe,
                    const std::function<void(const char*)>& survivor, const QString& path)
{
    const qint64 piece = std::max<qint64>(1, (4 << 20) / layout.size);
    WriteBehind behind(dst);
    bool inKernel = true;
    std::vector<char> buf;
    qint64 written = 0;
    qint64 runFirst = 0;
    qint64 runCount = 0;
    Status failed;
    const auto copyRun = [&] {
        if (runCount == 0 || !failed)
            return;
        const qint64 bytes = runCount * layout.size;
        failed = copyRange(src, runFirst * layout.size, dst, written, bytes, inKernel, buf, path);
        if (failed) {
            behind.written(written, bytes);
            written += bytes;
            if (probe)
                probe(CompactionStep::RunCopied);
        }
        runCount = 0;
    };
    Status st = scanRecords(
        src, count, layout,
        [&](qint64 index, const char* header, std::int16_t live) {
            if (live == 0) {
                copyRun();
                return;
            }
            if (survivor)
                survivor(header);
            if (runCount == 0)
                runFirst = index;
            if (++runCount == piece)
                copyRun();
        },
        path);
    copyRun();
    return st ? failed : st;
}

} // namespace

Status compactRecords(const QString& path, const QString& scratch, const RecordLayout& layout,
                      const CompactionProbe& probe,
                      const std::function<void(const char*)>& survivor)
{
    Fd src;
    // The file is about to be replaced: a link in its place is refused like a write.
    if (Status st = openForWriting(path, O_RDONLY, src); !st)
        return st.code() == ErrorCode::NotFound ? Status::ok() : st;
    struct stat info {};
    if (::fstat(src.get(), &info) != 0)
        return errnoStatus(path, errno);
    const qint64 count = static_cast<qint64>(info.st_size) / layout.size;

    // A scratch file left from before is replaced; the new one gets the file's own mode.
    ::unlink(nativePath(scratch).constData());
    Fd dst;
    if (Status st = openForWriting(scratch, O_WRONLY | O_CREAT | O_EXCL, dst, info.st_mode & 07777);
        !st)
        return st;
    if (probe)
        probe(CompactionStep::ScratchCreated);
    Status st = layout.size <= 4096
                    ? copyLiveRecords(src.get(), count, dst.get(), layout, probe, survivor, path)
                    : copyLiveRuns(src.get(), count, dst.get(), layout, probe, survivor, path);
    if (st)
        st = common::durable::syncDescriptor(dst.get(), scratch);
    dst = Fd();
    if (st && probe)
        probe(CompactionStep::ScratchSynced);
    if (st)
        st = common::durable::renameOver(scratch, path);
    if (!st) {
        // The record file was never touched; drop the unfinished copy.
        ::unlink(nativePath(scratch).constData());
        return st;
    }
    if (probe)
        probe(CompactionStep::Renamed);
    // The replaced file lives on through our descriptor; freeing its blocks takes
    // as long as writing them, and nobody needs to wait for it.
    std::thread([old = src.release()] { ::close(old); }).detach();
    return Status::ok();
}

} // namespace corvidan::storage::detail
