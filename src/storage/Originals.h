#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "storage/HistoryKind.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace corvidan::storage {

class HistoryFile;

/// The exact bytes of each message of a history, kept in owner-only pack files in a
/// folder inside the data folder. A pack is a run of entries, each a fixed text
/// header (live or deleted, the key, the length, a checksum of the message) and then
/// the message; a pass appends to one pack, so a receive of a thousand messages
/// creates one file, not a thousand. An entry is found by its key, the digest of
/// the record's stored bytes (live flag aside), which compaction copies unchanged:
/// the history file is never changed. A deleted entry keeps its header and loses
/// its message (the blocks are given back to the file system); a pack left with no
/// live entry goes. Files of the earlier one-file-per-original layout, named
/// `<key>.eml`, are still read, counted and removed.
///
/// Storing opens a pass: a shared lock on the folder held while this object (or a
/// copy) lives, and a marker file saying that an original may yet lack its record.
/// A marker left by a killed process makes the next collection compare every
/// original with the history; otherwise a collection only looks at the marker names.
class Originals {
public:
    Originals(const common::AppDir& appDir, HistoryKind kind);
    explicit Originals(QString folder); // tests and benchmarks
    ~Originals();
    Originals(const Originals&) = default;
    Originals& operator=(const Originals&) = default;

    const QString& folder() const { return m_folder; }
    /// Hex BLAKE2b-256 of the record's bytes before the live flag, less the blanks
    /// that end its fields (as strong as SHA-256 and twice as quick on this machine).
    static QString keyOf(QByteArrayView recordBytes);
    /// The key earlier versions named originals by: the same of every byte.
    static QString wholeRecordKeyOf(QByteArrayView recordBytes);
    /// Every key an original of this record may be kept under: its key, and the
    /// earlier one when the folder still holds originals named that way.
    static QStringList NamesOf(QByteArrayView recordBytes, bool wholeRecordKeys);
    bool HoldsWholeRecordKeys() const;

    /// Writes `message` durably as the original of the record with these bytes:
    /// before the record is stored, so no record ever names a missing original.
    /// An original already kept under this key stays (see the source for why).
    [[nodiscard]] common::Status Store(QByteArrayView recordBytes, QByteArrayView message) const;

    /// An original appended to the pass's pack, not yet known to be on disk.
    struct Pending {
        QString key;
        qint64 offset = -1; ///< of its entry; -1 when nothing was written (already kept)
        qint64 size = 0;    ///< of its entry, header included
        QByteArray sum;     ///< BLAKE2b-256 of the message, raw
    };
    /// Store in two steps, so that one Commit puts many originals on disk at once.
    /// Until then a kill or a failed flush leaves them unnamed by any record.
    [[nodiscard]] common::Status Write(QByteArrayView recordBytes, QByteArrayView message, Pending& pending) const;
    [[nodiscard]] common::Status Commit(std::vector<Pending>& batch) const;
    /// Takes back written originals that will get no record.
    void Discard(std::vector<Pending>& batch) const;
    /// The original; empty when the record has none (mail from before originals) or
    /// when what is stored fails its checksum.
    std::optional<QByteArray> Load(QByteArrayView recordBytes, QString* foundKey = nullptr) const;
    /// Message bytes of every live original.
    qint64 TotalBytes() const;
    /// Keys of every live original, sorted, each once.
    QStringList Keys() const;

    /// Removes the originals of these keys (unless `flush` is false, the removal is
    /// flushed: one lost to a power cut leaves an orphan, never a missing original).
    [[nodiscard]] common::Status RemoveKeys(const QStringList& keys, bool flush = true) const;
    /// Keeps the original of one key under another as well (a rebuild that changed
    /// the record); a key already kept keeps its original. On disk after Flush.
    [[nodiscard]] common::Status Link(const QString& fromKey, const QString& toKey) const;
    /// Puts what the pass wrote since its last commit on disk.
    [[nodiscard]] common::Status Flush() const;

    /// Opens the pass now (Store opens it on first use): callers that remove or
    /// rename originals around a history change hold it for the whole step. A pass
    /// that only removes needs no flushed marker: what a power cut takes with the
    /// marker is at worst an orphan, where a kill keeps the marker anyway.
    [[nodiscard]] common::Status BeginPass(bool flushMarker = true) const;
    /// Keeps the pass's marker when it ends, so the next collection compares every
    /// original with the history (a step could not finish its removals).
    void LeaveForCollection() const;
    /// Removes originals no record of `history` names, the torn ends of packs and
    /// temporary files left by a killed write. Cheap unless a killed process left its
    /// marker; skipped while another pass is open. Returns the number removed.
    int CollectOrphans(const HistoryFile& history) const;

private:
    struct Pass;
    common::Status ensureFolder() const;
    common::Status openPack(Pass& pass) const;
    common::Status append(const QString& key, QByteArrayView message, Pending& pending) const;
    std::optional<QByteArray> loadKey(const QString& key) const;
    QString fileOf(const QString& key) const;

    QString m_folder;
    mutable std::shared_ptr<Pass> m_pass;
};

/// Writes originals in a thread of its own, so that creating their files overlaps
/// with the caller's own work (a receive fetching and parsing the next message);
/// Commit waits for every queued one and then puts them all on disk together.
class OriginalsWriter {
public:
    explicit OriginalsWriter(const Originals& originals);
    ~OriginalsWriter(); ///< what was not committed is thrown away
    OriginalsWriter(const OriginalsWriter&) = delete;
    OriginalsWriter& operator=(const OriginalsWriter&) = delete;

    void Write(QByteArray recordBytes, QByteArray message);
    /// The first failure of a queued write, or of the commit; nothing of a failed
    /// batch is named. `keys` and `sums` get each written original's key and its
    /// message's checksum (BLAKE2b-256, raw), in the order written.
    [[nodiscard]] common::Status Commit(QStringList* keys = nullptr, QByteArrayList* sums = nullptr);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Collects the orphaned originals of both histories, as the program and the
/// receive do when they start. Returns the number of files removed.
int CollectOrphanedOriginals(const common::AppDir& appDir);

} // namespace corvidan::storage
