#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QFile>
#include <memory>
#include <functional>

namespace corvidan::transport {

/// The messages already stored in the received history whose deletion the server
/// has not confirmed yet, by unique id (UIDL) and a digest of their bytes. A
/// receive that lost its connection after storing leaves those messages on the
/// server; this file keeps the next receive from storing them a second time. An
/// id alone is not trusted: servers reuse ids, so only the same id with the same
/// content counts as stored. Entries are per account (server and user), one line
/// each, UTF-8: server TAB user TAB uid TAB "b2:" content digest. A line with
/// "recordNo:digest" TAB content digest announces a record about to be written.
/// Lines of earlier versions still read: their "sha1:" digests are compared as
/// SHA-1, and lines without a digest match nothing.
class SeenUids {
public:
    SeenUids(QString path, QString server, QString user);
    /// The file's place in the data folder.
    static QString pathIn(const common::AppDir& appDir);

    /// Reads the file; a missing file is empty. An unfinished last line (a crash
    /// while appending) is dropped from the file: forgetting an id risks a
    /// duplicate, while a cut id could match another message and lose it.
    common::Status load();
    /// True when this id was stored with exactly this content.
    bool contains(const QString& uid, const QByteArray& contentDigest) const;
    /// True when the id is remembered at all (whatever its content).
    bool knows(const QString& uid) const { return m_uids.contains(uid); }
    /// The digest remembered for a message: BLAKE2b-256 of its bytes as fetched,
    /// which is also the checksum its original is kept with.
    static QByteArray digestOf(QByteArrayView message);
    /// True when this id was stored with this message's bytes, by whichever digest
    /// its line holds.
    bool holds(const QString& uid, QByteArrayView message) const;
    qsizetype size() const { return m_uids.size(); }

    /// Appends one id and hands it to the system at once, so it survives a crash
    /// of the process; sync() makes the appended ids survive a power loss.
    common::Status remember(const QString& uid, const QByteArray& contentDigest);
    /// Lines of remember() and intend() wait in memory until writeHeld(), so that a
    /// batch of messages costs one write.
    void hold() { m_holding = true; }
    common::Status writeHeld();
    common::Status sync();

    /// Written just before the message's record: a process killed after the
    /// record reached the file but before remember() leaves only this line.
    common::Status intend(const QString& uid, int recordNo, const QByteArray& digest,
                          const QByteArray& contentDigest);
    /// Remembers each announced id whose record `isStored` (its record number and
    /// digest match what the history holds); forgets the others.
    common::Status resolveIntents(const std::function<bool(int recordNo, const QByteArray& digest)>& isStored);

    /// Keeps only `pending` of this account (other accounts' lines are untouched),
    /// replacing the file durably; an empty file is removed.
    common::Status keepOnly(const QSet<QString>& pending);

private:
    QByteArray prefixFor(const QString& uid) const;
    QByteArray lineFor(const QString& uid, const QByteArray& contentDigest) const;

    QString m_path;
    QString m_server;
    QString m_user;
    /// uid -> content digest (empty for a line of an earlier version).
    QHash<QString, QByteArray> m_uids;
    struct Intent {
        QString uid;
        int recordNo = 0;
        QByteArray digest;
        QByteArray contentDigest;
    };
    QList<Intent> m_intents;
    QByteArrayList m_otherAccounts;
    bool m_dirty = false;
    /// Kept open between appends (two a message); dropped whenever the file is replaced.
    std::shared_ptr<QFile> m_append;
    bool m_holding = false;
    QByteArray m_held;
    common::Status appendLine(const QByteArray& line);
};

} // namespace corvidan::transport
