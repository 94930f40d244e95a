#include "storage/RecordFile.h"

#include "common/Durable.h"
#include "common/FixedField.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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
    if (Status st = openFile(temp, O_WRONLY | O_CREAT | O_EXCL, fd, mode); !st)
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
    if (::stat(nativePath(path).constData(), &st) == 0 || errno != ENOENT)
        return Status::ok();
    if (::stat(nativePath(scratch).constData(), &st) != 0 || !S_ISREG(st.st_mode))
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

/// Copies `len` bytes in the kernel where it can, through a buffer where it cannot.
Status copyRange(int src, qint64 srcOffset, int dst, qint64 dstOffset, qint64 len,
                 const QString& path)
{
    loff_t in = srcOffset;
    loff_t out = dstOffset;
    while (len > 0) {
        const ssize_t n = ::copy_file_range(src, &in, dst, &out, static_cast<size_t>(len), 0);
        if (n > 0) {
            len -= n;
            continue;
        }
        if (n == 0)
            return shortRead(path);
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EPERM)
            return errnoStatus(path, errno);
        break;
    }
    std::vector<char> buf(len > 0 ? static_cast<size_t>(std::min<qint64>(len, 1 << 20)) : 0);
    while (len > 0) {
        const qint64 chunk = std::min<qint64>(len, static_cast<qint64>(buf.size()));
        const qint64 got = readAt(src, buf.data(), chunk, in);
        if (got != chunk)
            return got < 0 ? errnoStatus(path, errno) : shortRead(path);
        if (Status st = writeAt(dst, buf.data(), chunk, out, path); !st)
            return st;
        in += chunk;
        out += chunk;
        len -= chunk;
    }
    return Status::ok();
}

struct Run {
    qint64 first;
    qint64 count;
};

Status copyRuns(int src, int dst, const std::vector<Run>& runs, const RecordLayout& layout,
                const CompactionProbe& probe, const QString& path)
{
    qint64 written = 0;
    for (const Run& run : runs) {
        const qint64 bytes = run.count * layout.size;
        if (Status st = copyRange(src, run.first * layout.size, dst, written, bytes, path); !st)
            return st;
        written += bytes;
        if (probe)
            probe(CompactionStep::RunCopied);
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

Status compactRecords(const QString& path, const QString& scratch, const RecordLayout& layout,
                      const CompactionProbe& probe,
                      const std::function<void(const char*)>& survivor)
{
    Fd src;
    if (Status st = openFile(path, O_RDONLY, src); !st)
        return st.code() == ErrorCode::NotFound ? Status::ok() : st;
    struct stat info {};
    if (::fstat(src.get(), &info) != 0)
        return errnoStatus(path, errno);
    const qint64 count = static_cast<qint64>(info.st_size) / layout.size;

    std::vector<Run> runs;
    Status st = scanRecords(
        src.get(), count, layout,
        [&](qint64 index, const char* header, std::int16_t live) {
            if (live == 0)
                return;
            if (!runs.empty() && runs.back().first + runs.back().count == index)
                ++runs.back().count;
            else
                runs.push_back({index, 1});
            if (survivor)
                survivor(header);
        },
        path);
    if (!st)
        return st;

    // A scratch file left from before is replaced; the new one gets the file's own mode.
    ::unlink(nativePath(scratch).constData());
    Fd dst;
    if (st = openFile(scratch, O_WRONLY | O_CREAT | O_EXCL, dst, info.st_mode & 07777); !st)
        return st;
    if (probe)
        probe(CompactionStep::ScratchCreated);
    st = copyRuns(src.get(), dst.get(), runs, layout, probe, path);
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
    return Status::ok();
}

} // namespace corvidan::storage::detail
