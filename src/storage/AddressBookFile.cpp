#include "storage/AddressBookFile.h"

#include "common/Durable.h"
#include "common/FixedField.h"
#include "storage/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvidan::storage {

using common::ErrorCode;
using common::Status;
using detail::Fd;

namespace {

constexpr qint64 kSize = AddressRecord::Size;
constexpr detail::RecordLayout kLayout{AddressRecord::Size, AddressRecord::LiveOffset,
                                       AddressRecord::Size};

Status badRecordNo(const QString& path, int n)
{
    return Status::fail(n > AddressBookFile::MaxRecords ? ErrorCode::TooManyRecords
                                                        : ErrorCode::NotFound,
                        path + QStringLiteral(": no record %1").arg(n));
}

} // namespace

QByteArray AddressRecord::toBytes(int* replaced) const
{
    QByteArray bytes(Size, ' ');
    char* p = bytes.data();
    int nameLost = 0;
    int addressLost = 0;
    common::writeField(p + NameOffset, Name, NameWidth, &nameLost);
    p[LineEndOffset] = '\r';
    p[LineEndOffset + 1] = '\n';
    common::writeInt16LE(p + LiveOffset, Live);
    common::writeField(p + AddressOffset, Address, AddressWidth, &addressLost);
    if (replaced)
        *replaced = nameLost + addressLost;
    return bytes;
}

AddressRecord AddressRecord::fromBytes(const char* record)
{
    AddressRecord r;
    r.Name = common::readField(record + NameOffset, NameWidth);
    r.Live = common::readInt16LE(record + LiveOffset);
    r.Address = common::readField(record + AddressOffset, AddressWidth);
    return r;
}

AddressBookFile AddressBookFile::addressBook(const common::AppDir& appDir)
{
    return AddressBookFile(appDir.path(common::paths::AddressBook),
                           appDir.path(common::paths::AddressBookScratch));
}

AddressBookFile AddressBookFile::composeList(const common::AppDir& appDir)
{
    // Never compacted, so it has no scratch file.
    return AddressBookFile(appDir.path(common::paths::ComposeList), QString());
}

AddressBookFile::AddressBookFile(QString path, QString scratchPath)
    : m_path(std::move(path)), m_scratch(std::move(scratchPath))
{
}

Status AddressBookFile::RecoverInterruptedCompaction()
{
    return detail::restoreScratch(m_path, m_scratch);
}

Status AddressBookFile::EnsureExists() const
{
    if (Status st = detail::restoreScratch(m_path, m_scratch); !st)
        return st;
    if (detail::fileSize(m_path))
        return Status::ok();
    Fd fd;
    if (Status st = detail::openForWriting(m_path, O_RDWR | O_CREAT, fd); !st)
        return st;
    return common::durable::syncParentFolder(m_path);
}

int AddressBookFile::Count() const
{
    // A reader reads what is there; a copy it cannot put back waits for the next writer.
    (void)detail::restoreScratch(m_path, m_scratch);
    return static_cast<int>(
        std::min<qint64>(detail::fileSize(m_path).value_or(0) / kSize, INT32_MAX));
}

std::optional<std::int16_t> AddressBookFile::NextRecordNo() const
{
    // A torn tail is not a record: the next record overwrites it.
    return common::roundToInt16(static_cast<double>(Count()) + 1.0);
}

std::optional<AddressRecord> AddressBookFile::ReadRecord(int n) const
{
    const std::optional<QByteArray> bytes = ReadRecordBytes(n);
    if (!bytes)
        return std::nullopt;
    return AddressRecord::fromBytes(bytes->constData());
}

std::optional<QByteArray> AddressBookFile::ReadRecordBytes(int n) const
{
    if (n < 1 || !EnsureExists())
        return std::nullopt;
    Fd fd;
    if (!detail::openFile(m_path, O_RDONLY, fd))
        return std::nullopt;
    QByteArray buf(kSize, Qt::Uninitialized);
    if (detail::readAt(fd.get(), buf.data(), kSize, (n - 1) * kSize) != kSize)
        return std::nullopt;
    return buf;
}

Status AddressBookFile::WriteRecord(int n, const AddressRecord& record)
{
    if (n < 1 || n > MaxRecords)
        return badRecordNo(m_path, n);
    return writeRecord(n, record, nullptr);
}

Status AddressBookFile::writeRecord(int n, const AddressRecord& record, std::int16_t* recordNo)
{
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = EnsureExists(); !st)
        return st;
    Fd fd;
    if (Status st = detail::openForWriting(m_path, O_RDWR, fd); !st)
        return st;
    const qint64 count = ::lseek(fd.get(), 0, SEEK_END) / kSize;
    if (n == 0) {
        // Numbered under the lock, where no other writer can move the end.
        if (count >= MaxRecords)
            return Status::fail(ErrorCode::TooManyRecords,
                                m_path + QStringLiteral(": already %1 records").arg(MaxRecords));
        n = static_cast<int>(count) + 1;
    }
    if (n > count + 1)
        return badRecordNo(m_path, n);
    const QByteArray bytes = record.toBytes();
    Status st = detail::writeAt(fd.get(), bytes.constData(), kSize, (n - 1) * kSize, m_path);
    if (st)
        st = common::durable::syncDescriptor(fd.get(), m_path);
    // An append cut short by a full disk leaves no torn tail behind.
    if (!st && n == count + 1)
        (void)::ftruncate(fd.get(), (n - 1) * kSize);
    if (st && recordNo)
        *recordNo = static_cast<std::int16_t>(n);
    return st;
}

Status AddressBookFile::AppendRecord(const AddressRecord& record, std::int16_t* recordNo)
{
    AddressRecord live = record;
    live.Live = 1;
    return writeRecord(0, live, recordNo);
}

Status
AddressBookFile::Enumerate(const std::function<bool(int n, const AddressRecord&)>& sink) const
{
    if (Status st = EnsureExists(); !st)
        return st;
    Fd fd;
    if (Status st = detail::openFile(m_path, O_RDONLY, fd); !st)
        return st;
    const qint64 count = ::lseek(fd.get(), 0, SEEK_END) / kSize;
    bool more = true;
    return detail::scanRecords(
        fd.get(), count, kLayout,
        [&](qint64 index, const char* rec, std::int16_t) {
            if (more)
                more = sink(static_cast<int>(index + 1), AddressRecord::fromBytes(rec));
        },
        m_path);
}

Status AddressBookFile::MarkDeleted(int n)
{
    return markDeleted(n, std::nullopt);
}

Status AddressBookFile::MarkDeleted(int n, QByteArrayView shownRecord)
{
    return markDeleted(n, shownRecord.toByteArray());
}

Status AddressBookFile::markDeleted(int n, std::optional<QByteArray> shownRecord)
{
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = EnsureExists(); !st)
        return st;
    Fd fd;
    if (Status st = detail::openForWriting(m_path, O_RDWR, fd); !st)
        return st;
    if (n < 1 || n > ::lseek(fd.get(), 0, SEEK_END) / kSize)
        return badRecordNo(m_path, n);
    if (shownRecord) {
        char now[kSize];
        if (detail::readAt(fd.get(), now, kSize, (n - 1) * kSize) != kSize)
            return detail::errnoStatus(m_path, errno ? errno : EIO);
        const bool same = shownRecord->size() == kSize &&
                          std::memcmp(now, shownRecord->constData(), AddressRecord::LiveOffset) == 0 &&
                          std::memcmp(now + AddressRecord::AddressOffset,
                                      shownRecord->constData() + AddressRecord::AddressOffset,
                                      AddressRecord::AddressWidth) == 0;
        if (!same)
            return Status::fail(ErrorCode::NotFound, common::Reason::ShownAddressChanged, m_path, n);
    }
    const char deleted[2] = {0, 0};
    return detail::writeAt(fd.get(), deleted, 2, (n - 1) * kSize + AddressRecord::LiveOffset,
                           m_path);
}

Status AddressBookFile::Compact()
{
    if (m_scratch.isEmpty())
        return Status::fail(ErrorCode::Io,
                            m_path + QStringLiteral(": this file is never compacted"));
    detail::WriterLock lock;
    if (Status st = detail::WriterLock::acquire(m_path, lock); !st)
        return st;
    if (Status st = EnsureExists(); !st)
        return st;
    return detail::compactRecords(m_path, m_scratch, kLayout, {});
}

Status AddressBookFile::DeleteRecord(int n, QByteArrayView shownRecord)
{
    if (Status marked = MarkDeleted(n, shownRecord); !marked)
        return marked;
    const Status compacted = Compact();
    if (compacted)
        return compacted;
    Status undone = RecoverInterruptedCompaction();
    if (undone)
        undone = WriteRecord(n, AddressRecord::fromBytes(shownRecord.data()));
    if (undone)
        return compacted;
    return compacted.followedBy(undone);
}

} // namespace corvidan::storage
