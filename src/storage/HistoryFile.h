#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "storage/CompactionProbe.h"
#include "storage/HistoryKind.h"
#include "storage/MailRecord.h"
#include "storage/Originals.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvidan::storage {

/// One mail history (received or sent): a file of fixed-length records with no
/// header. Every call opens, works and closes; no handle outlives a call.
/// Writes, marks and compactions hold the writers' lock of the history's folder, so
/// the program and corvidan-receive may both write; a symbolic link in the
/// history's place is never written through.
/// The file is the only truth; a summary of the header fields may be kept beside
/// it to list quickly, and is rebuilt whenever it does not match the file.
class HistoryFile {
public:
    static constexpr int MaxRecords = 32767;

    HistoryFile(const common::AppDir& appDir, HistoryKind kind);
    /// Direct paths, for tests and benchmarks.
    HistoryFile(QString historyPath, QString scratchPath);

    const QString& path() const { return m_path; }
    const QString& scratchPath() const { return m_scratch; }

    /// Whole records in the file (a torn tail is not a record).
    int RecordCount() const;
    /// Whole records + 1 (a torn tail is overwritten, not skipped); empty past 32767.
    std::optional<std::int16_t> NextRecordNo() const;
    /// Writes `record` (LineEnd CR LF, Live 1) as record n and flushes it to disk
    /// (unless flushes are deferred).
    /// n may be at most RecordCount() + 1; a torn tail is overwritten.
    common::Status WriteRecord(int n, const MailRecord& record);
    /// WriteRecord at NextRecordNo; `recordNo` receives the number written.
    common::Status AppendRecord(const MailRecord& record, std::int16_t* recordNo = nullptr);
    /// Appends records already in their stored form (MailRecord::Size bytes each, Live
    /// 1) with one write: all of them or, on failure, none. `firstNo` receives the
    /// number of the first.
    common::Status AppendStoredRecords(const std::vector<QByteArray>& records, std::int16_t* firstNo = nullptr);
    std::optional<MailRecord> ReadRecord(int n) const;
    /// Record n exactly as stored, for a caller that must later name this very record.
    std::optional<QByteArray> ReadRecordBytes(int n) const;
    /// Hands records 1, 2, 3 … to `sink` in order; stops early when it returns false.
    common::Status ReadAllRecords(const std::function<bool(int n, const MailRecord&)>& sink) const;
    /// Header fields of every record in order, without reading the bodies.
    std::vector<MailHeader> ReadAllHeaders() const;
    common::Status MarkDeleted(int n);
    /// Marks record n only while it still is the record the caller showed: its bytes
    /// as ReadRecordBytes gave them (the live flag aside), or its three header fields
    /// as listed. Another record under that number is left alone and reported.
    common::Status MarkDeleted(int n, QByteArrayView shownRecord);
    common::Status MarkDeleted(int n, const MailHeader& listed);
    /// Removes every record whose Live is 0; at every instant the old or the new
    /// file is whole on disk.
    common::Status CompactHistory();
    /// Finishes a compaction that a crash interrupted (scratch file but no history).
    common::Status RecoverInterruptedCompaction();

    /// Deletes record n while it still is the record shown (or listed): marks it,
    /// compacts, and gives it its flag back when the compaction fails, so a failed
    /// deletion leaves the history as it was.
    common::Status DeleteRecord(int n, QByteArrayView shownRecord);
    common::Status DeleteRecord(int n, const MailHeader& listed);
    /// Deletes every record (a torn tail goes too) the same way.
    common::Status DeleteAll();

    /// Passes every record to `remake`, which gives the bytes to keep in its place
    /// (live flag included), into a fresh file that then replaces the history: the
    /// old file stays as `backupPath`, `beforeSwap` runs once the fresh file is on
    /// disk, and the summary is dropped. Writers wait throughout.
    using Remake = std::function<QByteArray(int n, const QByteArray& record)>;
    common::Status RewriteAll(const Remake& remake, const QString& backupPath,
                              const std::function<common::Status()>& beforeSwap);

    /// The originals of this history, which a deletion removes with their records
    /// (set by the data-folder constructor; tests with direct paths attach their own).
    void attachOriginals(std::optional<Originals> originals) { m_originals = std::move(originals); }
    const std::optional<Originals>& originals() const { return m_originals; }

    /// Lets a test stop a compaction at a chosen point.
    void setCompactionProbe(CompactionProbe probe) { m_probe = std::move(probe); }


    /// From now on WriteRecord leaves its flush to Flush(), so that one flush can
    /// cover many records; whoever defers must call Flush() before relying on them.
    void deferFlushes() { m_deferFlushes = true; }
    /// Flushes what WriteRecord wrote since the last flush, with the folder entry of
    /// a file it created.
    common::Status Flush();
    /// Flush() handed to the caller, to run in another thread while writing goes
    /// on: it covers what was written before this call.
    std::function<common::Status()> TakeFlush();

private:
    /// A deleted record as its original knows it.
    struct Deleted {
        QByteArray header;
        QStringList keys;
    };
    static Deleted deletedFrom(QByteArrayView record, bool wholeRecordKeys);
    bool originalsHoldWholeRecordKeys() const;
    std::vector<Deleted> deletedUpTo(int last) const;
    common::Status compactOrRollBack(int first, int last, const std::vector<Deleted>& deleted);
    /// The compaction; `survivor` sees the header of each record kept.
    common::Status compact(const std::function<void(const char* header)>& survivor);
    /// Removes the originals of `deleted` that no record kept in the history still names.
    void removeOriginals(const Originals& pass, const std::vector<Deleted>& deleted,
                         const std::vector<qint64>& lookAlikes) const;
    common::Status restoreMarks(int first, int last);
    /// Writes record n, or appends when n is 0, under the writers' lock.
    common::Status writeRecord(int n, const MailRecord& record, std::int16_t* recordNo);
    /// Writes stored records at record n (0: appended).
    common::Status writeStored(int n, const std::vector<QByteArrayView>& records, std::int16_t* recordNo);
    common::Status markDeleted(int n, const std::function<bool(const char* record)>& isShown);

    QString m_path;
    QString m_scratch;
    CompactionProbe m_probe;
    std::optional<Originals> m_originals;
    bool m_deferFlushes = false;
    bool m_unflushed = false;
    bool m_unflushedCreate = false;
};

} // namespace corvidan::storage
