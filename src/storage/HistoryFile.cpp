#include "storage/HistoryFile.h"

#include "common/Durable.h"
#include "common/FixedField.h"
#include "storage/FieldDecoder.h"
#include "storage/HistoryIndex.h"
#include "storage/RecordFile.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvidan::storage {

using common::ErrorCode;
using common::Status;
using detail::Fd;

namespace {

constexpr qint64 kSize = MailRecord::Size;
constexpr detail::RecordLayout kLayout{MailRecord::Size, MailRecord::LiveOffset,
                                       MailRecord::HeaderBytes};

Status badRecordNo(const QString& path, int n)
{
    return Status::fail(n > HistoryFile::MaxRecords ? ErrorCode::TooManyRecords
                                                    : ErrorCode::NotFound,
                        path + QStringLiteral(": no record %1").arg(n));
}

} // namespace

HistoryFile::HistoryFile(const common::AppDir& appDir, HistoryKind kind)
    : HistoryFile(appDir.path(kind == HistoryKind::Received ? common::paths::ReceivedHistory
                                                            : common::paths::SentHistory),
                  appDir.path(kind == HistoryKind::Received ? common::paths::ReceivedScratch
                                                            : common::paths::SentScratch))
{
    m_originals.emplace(appDir, kind);
}

HistoryFile::HistoryFile(QString historyPath, QString scratchPath)
    : m_path(std::move(historyPath)), m_scratch(std::move(scratchPath))
{
}

Status HistoryFile::RecoverInterruptedCompaction()
{
    return detail::restoreScratch(m_path, m_scratch);
}

int HistoryFile::RecordCount() const
{
    // A reader reads what is there; a copy it cannot put back waits for the next writer.
    (void)detail::restoreScratch(m_path, m_scratch);
    return static_cast<int>(
        std::min<qint64>(detail::fileSize(m_path).value_or(0) / kSize, INT32_MAX));
}

std::optional<std::int16_t> HistoryFile::NextRecordNo() const
{
    // A torn tail is not a record: the next record overwrites it.
    return common::roundToInt16(static_cast<double>(RecordCount()) + 1.0);
}

Status HistoryFile::WriteRecord(int n, const MailRecord& record)
{
    if (n < 1 || n > MaxRecords)
        return badRecordNo(m_path, n);
    return writeRecord(n, record, nullptr);
}

Status HistoryFile::writeRecord(int n, const MailRecord& record, std::int16_t* recordNo)
{
    MailRecord stored = record;
    stored.Live = 1;
    const QByteArray bytes = stored.toBytes();
    return writeStored(n, {QByteArrayView(bytes)}, recordNo);
}

Status HistoryFile::AppendStoredRecords(const std::vector<QByteArray>& records, std::int16_t* firstNo)
{
    if (records.empty())
        return Status::ok();
    if (records.size() > size_t(MaxRecords))
        return Status::fail(ErrorCode::TooManyRecords, m_path);
    std::vector<QByteArrayView> views;
    for (const QByteArray& record : records) {
        if (record.size() != kSize)
            return Status::fail(ErrorCode::Corrupt, m_path);
        views.emplace_back(record);
    }
    return writeStored(0, views, firstNo);
}

namespace {

/// Writes whole records one after another from `at`, many per call.
Status writeRecordsAt(int fd, const std::vector<QByteArrayView>& records, qint64 at, const QString& path)
{
    constexpr size_t perCall = 64;
    for (size_t i = 0; i < records.size();) {
        iovec iov[perCall];
        const size_t k = std::min(perCall, records.size() - i);
        for (size_t j = 0; j < k; ++j)
            iov[j] = {const_cast<char*>(records[i + j].data()), static_cast<size_t>(records[i + j].size())};
        const ssize_t n = ::pwritev(fd, iov, static_cast<int>(k), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return detail::errnoStatus(path, n < 0 ? errno : EIO);
        // A short write: the record it cut is finished on its own.
        const size_t whole = static_cast<size_t>(n / kSize);
        const qint64 cut = n % kSize;
        i += whole;
        at += qint64(whole) * kSize;
        if (cut > 0) {
            if (Status st = detail::writeAt(fd, records[i].data() + cut, kSize - cut, at + cut, path); !st)
                return st;
            ++i;
            at += kSize;
        }
    }
    return Status::ok();
}

} // namespace

Status HistoryFile::writeStored(int n, const std::vector<QByteArrayView>& recordViews, std::int16_t* recordNo)
{
    const int records = static_cast<int>(recordViews.size());
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = RecoverInterruptedCompaction(); !st)
        return st;
    const bool existed = detail::fileSize(m_path).has_value();
    Fd fd;
    if (Status st = detail::openForWriting(m_path, O_RDWR | O_CREAT, fd, 0600); !st)
        return st;
    const std::optional<detail::FileStamp> before = detail::stampOf(fd.get());
    if (!before)
        return detail::errnoStatus(m_path, errno);
    const qint64 count = before->size / kSize;
    if (n == 0) {
        // The number is taken under the lock: another writer may have appended or
        // compacted since anyone last looked.
        if (count + records > MaxRecords)
            return Status::fail(ErrorCode::TooManyRecords,
                                m_path + QStringLiteral(": already %1 records").arg(MaxRecords));
        n = static_cast<int>(count) + 1;
    }
    if (n > count + 1 || (records > 1 && n != count + 1))
        return badRecordNo(m_path, n);

    const detail::HistoryIndex index(m_path);
    const bool appending = n == count + 1;
    if (!appending)
        index.remove();
    Status st = writeRecordsAt(fd.get(), recordViews, (n - 1) * kSize, m_path);
    if (st && m_deferFlushes) {
        m_unflushed = true;
        m_unflushedCreate = m_unflushedCreate || !existed;
    } else {
        if (st)
            st = common::durable::syncDescriptor(fd.get(), m_path);
        if (st && !existed)
            st = common::durable::syncParentFolder(m_path);
    }
    if (!st) {
        // A full disk cuts the write short: no part of an append that failed may stay
        // behind as a torn tail (nor one that was there before, as a success overwrites it).
        if (appending)
            (void)::ftruncate(fd.get(), (n - 1) * kSize);
        return st;
    }
    if (appending) {
        if (const std::optional<detail::FileStamp> after = detail::stampOf(fd.get()))
            index.appendEntries(*before, *after, recordViews);
    }
    if (recordNo)
        *recordNo = static_cast<std::int16_t>(n);
    return Status::ok();
}

namespace {

Status flushHistory(const QString& path, bool created)
{
    Fd fd;
    Status st = detail::openFile(path, O_RDONLY, fd);
    if (st)
        st = common::durable::syncDescriptor(fd.get(), path);
    if (st && created)
        st = common::durable::syncParentFolder(path);
    return st;
}

} // namespace

std::function<Status()> HistoryFile::TakeFlush()
{
    if (!m_unflushed)
        return [] { return Status::ok(); };
    const bool created = std::exchange(m_unflushedCreate, false);
    m_unflushed = false;
    return [path = m_path, created] { return flushHistory(path, created); };
}

Status HistoryFile::Flush()
{
    if (!m_unflushed)
        return Status::ok();
    const Status st = flushHistory(m_path, m_unflushedCreate);
    if (st)
        m_unflushed = m_unflushedCreate = false;
    return st;
}

Status HistoryFile::AppendRecord(const MailRecord& record, std::int16_t* recordNo)
{
    return writeRecord(0, record, recordNo);
}

std::optional<MailRecord> HistoryFile::ReadRecord(int n) const
{
    const std::optional<QByteArray> bytes = ReadRecordBytes(n);
    if (!bytes)
        return std::nullopt;
    return MailRecord::fromBytes(bytes->constData());
}

std::optional<QByteArray> HistoryFile::ReadRecordBytes(int n) const
{
    // A reader reads what is there; a copy it cannot put back waits for the next writer.
    (void)detail::restoreScratch(m_path, m_scratch);
    Fd fd;
    if (n < 1 || !detail::openFile(m_path, O_RDONLY, fd))
        return std::nullopt;
    QByteArray buf(kSize, Qt::Uninitialized);
    if (detail::readAt(fd.get(), buf.data(), kSize, (n - 1) * kSize) != kSize)
        return std::nullopt;
    return buf;
}

Status HistoryFile::ReadAllRecords(const std::function<bool(int n, const MailRecord&)>& sink) const
{
    // A reader reads what is there; a copy it cannot put back waits for the next writer.
    (void)detail::restoreScratch(m_path, m_scratch);
    Fd fd;
    if (Status st = detail::openFile(m_path, O_RDONLY, fd); !st)
        return st.code() == ErrorCode::NotFound ? Status::ok() : st;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::optional<detail::FileStamp> stamp = detail::stampOf(fd.get());
    const qint64 count = stamp ? stamp->size / kSize : 0;
    constexpr qint64 perChunk = 32;
    QByteArray buf(perChunk * kSize, Qt::Uninitialized);
    for (qint64 first = 0; first < count; first += perChunk) {
        const qint64 n = std::min(perChunk, count - first);
        const qint64 got = detail::readAt(fd.get(), buf.data(), n * kSize, first * kSize);
        if (got < 0)
            return detail::errnoStatus(m_path, errno);
        for (qint64 i = 0; i < got / kSize; ++i) {
            if (!sink(static_cast<int>(first + i + 1),
                      MailRecord::fromBytes(buf.constData() + i * kSize)))
                return Status::ok();
        }
        if (got < n * kSize)
            break; // the file shrank under us; what was read is all there is
    }
    return Status::ok();
}

std::vector<MailHeader> HistoryFile::ReadAllHeaders() const
{
    // A reader reads what is there; a copy it cannot put back waits for the next writer.
    (void)detail::restoreScratch(m_path, m_scratch);
    Fd fd;
    if (!detail::openFile(m_path, O_RDONLY, fd))
        return {};
    const std::optional<detail::FileStamp> stamp = detail::stampOf(fd.get());
    if (!stamp)
        return {};
    const detail::HistoryIndex index(m_path);
    const detail::FieldDecoder decoder;
    std::vector<MailHeader> out;
    const qint64 count = stamp->size / kSize;
    out.reserve(static_cast<size_t>(count));
    // Decoded as the summary streams by, in one thread: a second one would only
    // wait for a processor on a busy machine, and the decoding is quick.
    auto decode = [&](const char* h) {
        out.push_back({decoder.field(h + MailRecord::SubjectOffset, MailRecord::SubjectWidth),
                       decoder.field(h + MailRecord::DateOffset, MailRecord::DateWidth),
                       decoder.field(h + MailRecord::AddressOffset, MailRecord::AddressWidth)});
    };
    if (index.load(*stamp, fd.get(), decode))
        return out;

    out.clear();
    QByteArray headers(count * MailRecord::HeaderBytes, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i) {
        char* dst = headers.data() + i * MailRecord::HeaderBytes;
        if (detail::readAt(fd.get(), dst, MailRecord::HeaderBytes, i * kSize) !=
            MailRecord::HeaderBytes) {
            headers.truncate(i * MailRecord::HeaderBytes);
            break;
        }
        decode(dst);
    }
    if (headers.size() == count * MailRecord::HeaderBytes)
        index.store(*stamp, headers);
    return out;
}

Status HistoryFile::MarkDeleted(int n)
{
    return markDeleted(n, {});
}

Status HistoryFile::MarkDeleted(int n, QByteArrayView shownRecord)
{
    const QByteArray shown = shownRecord.toByteArray();
    return markDeleted(n, [shown](const char* record) {
        // The live flag is not part of what was shown: compare everything else.
        return shown.size() == kSize &&
               std::memcmp(record, shown.constData(), MailRecord::LiveOffset) == 0;
    });
}

Status HistoryFile::MarkDeleted(int n, const MailHeader& listed)
{
    return markDeleted(n, [&listed](const char* record) {
        const detail::FieldDecoder decoder;
        return decoder.field(record + MailRecord::SubjectOffset, MailRecord::SubjectWidth) ==
                   listed.Subject &&
               decoder.field(record + MailRecord::DateOffset, MailRecord::DateWidth) ==
                   listed.Date &&
               decoder.field(record + MailRecord::AddressOffset, MailRecord::AddressWidth) ==
                   listed.Address;
    });
}

Status HistoryFile::markDeleted(int n, const std::function<bool(const char*)>& isShown)
{
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = RecoverInterruptedCompaction(); !st)
        return st;
    Fd fd;
    if (Status st = detail::openForWriting(m_path, O_RDWR, fd); !st)
        return st;
    const std::optional<detail::FileStamp> stamp = detail::stampOf(fd.get());
    if (!stamp || n < 1 || n > stamp->size / kSize)
        return badRecordNo(m_path, n);
    if (isShown) {
        QByteArray record(kSize, Qt::Uninitialized);
        if (detail::readAt(fd.get(), record.data(), kSize, (n - 1) * kSize) != kSize)
            return detail::errnoStatus(m_path, errno ? errno : EIO);
        if (!isShown(record.constData()))
            return Status::fail(ErrorCode::NotFound, common::Reason::ShownMailChanged, m_path, n);
    }
    // Not flushed here: the compaction that always follows writes a flushed file.
    const char deleted[2] = {0, 0};
    return detail::writeAt(fd.get(), deleted, 2, (n - 1) * kSize + MailRecord::LiveOffset, m_path);
}

Status HistoryFile::CompactHistory()
{
    return compact({});
}

Status HistoryFile::compact(const std::function<void(const char* header)>& survivor)
{
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = RecoverInterruptedCompaction(); !st)
        return st;
    QByteArray headers;
    Status st =
        detail::compactRecords(m_path, m_scratch, kLayout, m_probe, [&](const char* header) {
            headers.append(header, MailRecord::HeaderBytes);
            if (survivor)
                survivor(header);
        });
    if (!st)
        return st;
    Fd fd;
    if (detail::openFile(m_path, O_RDONLY, fd)) {
        if (const std::optional<detail::FileStamp> stamp = detail::stampOf(fd.get()))
            detail::HistoryIndex(m_path).store(*stamp, headers);
    }
    return Status::ok();
}

HistoryFile::Deleted HistoryFile::deletedFrom(QByteArrayView record, bool wholeRecordKeys)
{
    return {record.first(std::min<qsizetype>(record.size(), MailRecord::HeaderBytes)).toByteArray(),
            Originals::NamesOf(record, wholeRecordKeys)};
}

bool HistoryFile::originalsHoldWholeRecordKeys() const
{
    return m_originals && m_originals->HoldsWholeRecordKeys();
}

std::vector<HistoryFile::Deleted> HistoryFile::deletedUpTo(int last) const
{
    std::vector<Deleted> out;
    Fd fd;
    if (!detail::openFile(m_path, O_RDONLY, fd))
        return out;
    const bool whole = originalsHoldWholeRecordKeys();
    constexpr qint64 perChunk = 32;
    QByteArray buf(perChunk * kSize, Qt::Uninitialized);
    for (qint64 first = 0; first < last; first += perChunk) {
        const qint64 n = std::min<qint64>(perChunk, last - first);
        const qint64 got = detail::readAt(fd.get(), buf.data(), n * kSize, first * kSize);
        for (qint64 i = 0; i + kSize <= got; i += kSize)
            out.push_back(deletedFrom(QByteArrayView(buf.constData() + i, kSize), whole));
        if (got < n * kSize)
            break;
    }
    return out;
}

Status HistoryFile::RewriteAll(const Remake& remake, const QString& backupPath,
                               const std::function<Status()>& beforeSwap)
{
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = RecoverInterruptedCompaction(); !st)
        return st;
    Fd in;
    if (Status st = detail::openFile(m_path, O_RDONLY, in); !st)
        return st;
    Fd out;
    if (Status st = detail::openForWriting(m_scratch, O_WRONLY | O_CREAT | O_TRUNC, out, 0600); !st)
        return st;
    // A rewrite that stops leaves no half-made file behind.
    struct Unfinished {
        QByteArray path;
        ~Unfinished()
        {
            if (!path.isEmpty())
                ::unlink(path.constData());
        }
    } unfinished{detail::nativePath(m_scratch)};
    QByteArray record(kSize, Qt::Uninitialized);
    for (int n = 1;; ++n) {
        const qint64 got = detail::readAt(in.get(), record.data(), kSize, (n - 1) * kSize);
        if (got < 0)
            return detail::errnoStatus(m_path, errno);
        if (got < kSize)
            break; // a torn tail is no record
        const QByteArray kept = remake(n, record);
        if (kept.size() != kSize)
            return Status::fail(ErrorCode::Corrupt, m_path + QStringLiteral(": record %1").arg(n));
        if (Status st = detail::writeAt(out.get(), kept.constData(), kSize, (n - 1) * kSize, m_scratch); !st)
            return st;
    }
    if (Status st = common::durable::syncDescriptor(out.get(), m_scratch); !st)
        return st;
    if (beforeSwap) {
        if (Status st = beforeSwap(); !st)
            return st;
    }
    // The old file keeps a second name before the fresh one takes the first.
    ::unlink(detail::nativePath(backupPath).constData());
    if (::link(detail::nativePath(m_path).constData(), detail::nativePath(backupPath).constData()) != 0)
        return detail::errnoStatus(backupPath, errno);
    detail::HistoryIndex(m_path).remove();
    // Once renamed the scratch name is gone, whatever the folder's flush says.
    return common::durable::renameOver(m_scratch, m_path);
}

Status HistoryFile::DeleteRecord(int n, QByteArrayView shownRecord)
{
    if (Status marked = MarkDeleted(n, shownRecord); !marked)
        return marked;
    return compactOrRollBack(n, n, {deletedFrom(shownRecord, originalsHoldWholeRecordKeys())});
}

Status HistoryFile::DeleteRecord(int n, const MailHeader& listed)
{
    if (Status marked = MarkDeleted(n, listed); !marked)
        return marked;
    std::vector<Deleted> deleted;
    if (m_originals) {
        if (const std::optional<QByteArray> bytes = ReadRecordBytes(n))
            deleted.push_back(deletedFrom(*bytes, originalsHoldWholeRecordKeys()));
    }
    return compactOrRollBack(n, n, deleted);
}

Status HistoryFile::DeleteAll()
{
    const int whole = RecordCount();
    std::vector<Deleted> deleted;
    if (m_originals && QFileInfo(m_originals->folder()).isDir())
        deleted = deletedUpTo(whole);
    for (int n = 1; n <= whole; ++n) {
        if (Status marked = MarkDeleted(n); !marked) {
            (void)restoreMarks(1, n - 1); // what cannot be restored stays marked, not lost
            return marked;
        }
    }
    return compactOrRollBack(1, whole, deleted);
}

Status HistoryFile::compactOrRollBack(int first, int last, const std::vector<Deleted>& deleted)
{
    // The originals go only once the compaction is through: a kill before that leaves
    // them all, one after it leaves orphans that the pass's marker gets collected.
    std::optional<Originals> pass;
    if (m_originals && !deleted.empty() && QFileInfo(m_originals->folder()).isDir()) {
        pass.emplace(m_originals->folder());
        if (!pass->BeginPass(false))
            pass.reset(); // nothing of the deletion depends on its originals
    }
    QSet<QByteArray> deletedHeaders;
    for (const Deleted& record : deleted)
        deletedHeaders.insert(record.header);
    std::vector<qint64> lookAlikes;
    qint64 index = 0;
    const Status compacted = compact([&](const char* header) {
        if (pass && deletedHeaders.contains(QByteArray::fromRawData(header, MailRecord::HeaderBytes)))
            lookAlikes.push_back(index);
        ++index;
    });
    if (compacted && pass)
        removeOriginals(*pass, deleted, lookAlikes);
    if (compacted)
        return compacted;
    // The old file is still the history: unmark what this deletion marked.
    Status undone = RecoverInterruptedCompaction();
    if (undone)
        undone = restoreMarks(first, last);
    if (undone)
        return compacted;
    return compacted.followedBy(undone);
}

void HistoryFile::removeOriginals(const Originals& pass, const std::vector<Deleted>& deleted,
                                  const std::vector<qint64>& lookAlikes) const
{
    // A kept record with a deleted one's header may be its twin, which names the
    // same original: only those few are read whole.
    const bool whole = !lookAlikes.empty() && pass.HoldsWholeRecordKeys();
    QSet<QString> stillNamed;
    for (const qint64 i : lookAlikes) {
        if (const std::optional<QByteArray> kept = ReadRecordBytes(static_cast<int>(i + 1))) {
            for (const QString& key : Originals::NamesOf(*kept, whole))
                stillNamed.insert(key);
        }
    }
    QStringList keys;
    for (const Deleted& record : deleted) {
        for (const QString& key : record.keys) {
            if (!stillNamed.contains(key)) {
                keys << key;
                stillNamed.insert(key);
            }
        }
    }
    // What cannot be removed now is left to the next start's collection.
    if (!pass.RemoveKeys(keys, false))
        pass.LeaveForCollection();
}

Status HistoryFile::restoreMarks(int first, int last)
{
    Status st;
    for (int n = first; n <= last; ++n) {
        std::optional<MailRecord> record = ReadRecord(n);
        if (record && record->Live == 0) {
            if (Status written = WriteRecord(n, *record); !written && st)
                st = written;
        }
    }
    return st;
}

} // namespace corvidan::storage
