#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace corvidan::storage {

/// One address book entry as stored: Name (90), CR LF, Live (16-bit LE), Address (90).
struct AddressRecord {
    static constexpr int Size = 184;
    static constexpr int NameOffset = 0, NameWidth = 90;
    static constexpr int LineEndOffset = 90;
    static constexpr int LiveOffset = 92;
    static constexpr int AddressOffset = 94, AddressWidth = 90;

    QString Name;
    QString Address;
    std::int16_t Live = 1;

    QByteArray toBytes(int* replaced = nullptr) const;
    /// Text fields decoded and cut at their first NUL; blanks kept.
    static AddressRecord fromBytes(const char* record);
};

/// A file of AddressRecords: the address book, or the compose window's list file.
class AddressBookFile {
public:
    static constexpr int MaxRecords = 32767;

    /// The address book itself.
    static AddressBookFile addressBook(const common::AppDir& appDir);
    /// The compose window's read-only list file in the same layout.
    static AddressBookFile composeList(const common::AppDir& appDir);
    AddressBookFile(QString path, QString scratchPath);

    const QString& path() const { return m_path; }

    /// Opening a missing file creates it empty, as the program always has.
    common::Status EnsureExists() const;
    int Count() const;
    /// Count + 1 (a torn tail is overwritten, not skipped); empty past 32767.
    std::optional<std::int16_t> NextRecordNo() const;
    std::optional<AddressRecord> ReadRecord(int n) const;
    /// Record n exactly as stored.
    std::optional<QByteArray> ReadRecordBytes(int n) const;
    common::Status WriteRecord(int n, const AddressRecord& record);
    /// WriteRecord at NextRecordNo with Live 1.
    common::Status AppendRecord(const AddressRecord& record, std::int16_t* recordNo = nullptr);
    common::Status Enumerate(const std::function<bool(int n, const AddressRecord&)>& sink) const;
    common::Status MarkDeleted(int n);
    /// Marks record n only while it still holds `shownRecord` (as ReadRecordBytes
    /// gave it, the live flag aside); another entry under that number is left alone.
    common::Status MarkDeleted(int n, QByteArrayView shownRecord);
    common::Status Compact();
    common::Status RecoverInterruptedCompaction();
    /// Deletes entry n while it still holds `shownRecord`: marks it, compacts, and
    /// gives it its flag back when the compaction fails (it would otherwise stay
    /// listed and sent to, then vanish at some later compaction).
    common::Status DeleteRecord(int n, QByteArrayView shownRecord);

private:
    /// Writes record n, or appends when n is 0, under the writers' lock.
    common::Status writeRecord(int n, const AddressRecord& record, std::int16_t* recordNo);
    common::Status markDeleted(int n, std::optional<QByteArray> shownRecord);

    QString m_path;
    QString m_scratch;
};

} // namespace corvidan::storage
