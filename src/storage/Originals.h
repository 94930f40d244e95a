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

/// The exact bytes of each message of a history, one owner-only file per message in
/// a folder inside the data folder, named after the record's stored bytes (live flag
/// aside), which compaction copies unchanged; the history file is never changed.
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
    /// The file name part: hex SHA-256 of the record's bytes before the live flag.
    static QString keyOf(QByteArrayView recordBytes);
    QString pathOf(QByteArrayView recordBytes) const;

    /// Writes `message` durably as the original of the record with these bytes:
    /// before the record is stored, so no record ever names a missing original.
    /// An original already there under this name is kept (see the source for why).
    [[nodiscard]] common::Status Store(QByteArrayView recordBytes, QByteArrayView message) const;

    /// An original written to a temporary file, not yet on disk nor under its name.
    struct Pending {
        QString temp;
        QString target;
        std::shared_ptr<const int> fd;
    };
    /// Store in two steps, so that one Commit puts many originals on disk at once
    /// (their flushes overlap): nothing is under its name before Commit.
    [[nodiscard]] common::Status Write(QByteArrayView recordBytes, QByteArrayView message, Pending& pending) const;
    [[nodiscard]] common::Status Commit(std::vector<Pending>& batch) const;
    /// Throws away written originals that will get no record.
    static void Discard(std::vector<Pending>& batch);
    /// The original; empty when the record has none (mail from before originals).
    std::optional<QByteArray> Load(QByteArrayView recordBytes) const;
    /// Bytes of all originals in the folder.
    qint64 TotalBytes() const;

    /// Removes the originals of these keys and flushes the folder.
    [[nodiscard]] common::Status RemoveKeys(const QStringList& keys) const;
    /// Gives the original of one record the name of another as well (a rebuild
    /// that changed the record); a name already taken keeps its file.
    [[nodiscard]] common::Status Link(const QString& fromKey, const QString& toKey) const;
    /// Flushes the folder entries (after Link).
    [[nodiscard]] common::Status SyncFolder() const;

    /// Opens the pass now (Store opens it on first use): callers that remove or
    /// rename originals around a history change hold it for the whole step.
    [[nodiscard]] common::Status BeginPass() const;
    /// Keeps the pass's marker when it ends, so the next collection compares every
    /// original with the history (a step could not finish its removals).
    void LeaveForCollection() const;
    /// Removes originals no record of `history` names and temporary files left by a
    /// killed write. Cheap unless a killed process left its marker; skipped while
    /// another pass is open. Returns the number of files removed.
    int CollectOrphans(const HistoryFile& history) const;

private:
    struct Pass;
    common::Status ensureFolder() const;
    QString fileOf(const QString& key) const;

    QString m_folder;
    mutable std::shared_ptr<Pass> m_pass;
};

/// Collects the orphaned originals of both histories, as the program and the
/// receive do when they start. Returns the number of files removed.
int CollectOrphanedOriginals(const common::AppDir& appDir);

} // namespace corvidan::storage
