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

/// Copies the live records of `src` (count whole records) to `dst` in one
/// sequential pass: whole chunks are read, their live records written back to
/// back. Reading every byte once is as cheap as skipping to the flags, and the
/// pass costs what one plain copy costs.
Status copyLiveRecords(int src, qint64 count, int dst, const RecordLayout& layout,
                       const CompactionProbe& probe,
                       const std::function<void(const char*)>& survivor, const QString& path)
{
    const qint64 perChunk = std::max<qint64>(1, (4 << 20) / layout.size);
    std::vector<char> buf(static_cast<size_t>(perChunk * layout.size));
    qint64 written = 0;
    qint64 previousStart = 0;
    qint64 previousBytes = 0;
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
            // The disk writes while the next chunk is gathered, and at most two chunks
            // wait in memory: the closing flush is left with almost nothing to do,
            // where a copy flushed at the end waits for all of it.
            ::sync_file_range(dst, written, bytes, SYNC_FILE_RANGE_WRITE);
            if (previousBytes > 0)
                ::sync_file_range(dst, previousStart, previousBytes,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER);
            previousStart = written;
            previousBytes = bytes;
            written += bytes;
        }
        if (probe)
            probe(CompactionStep::RunCopied);
    }
    return Status::ok();
}

} // namespace

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

    // A scratch file left from before is replaced; the new one gets the file's own mode.
    ::unlink(nativePath(scratch).constData());
    Fd dst;
    if (Status st = openFile(scratch, O_WRONLY | O_CREAT | O_EXCL, dst, info.st_mode & 07777); !st)
        return st;
    if (probe)
        probe(CompactionStep::ScratchCreated);
    Status st = copyLiveRecords(src.get(), count, dst.get(), layout, probe, survivor, path);
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
