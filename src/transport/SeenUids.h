#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QByteArrayList>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>

namespace corvidan::transport {

/// The unique ids (UIDL) of messages already stored in the received history whose
/// deletion the server has not confirmed yet. A receive that lost its connection
/// after storing leaves those messages on the server; this file keeps the next
/// receive from storing them a second time. Entries are per account (server and
/// user), one line each: server TAB user TAB uid, UTF-8. A line with a fourth
/// field "recordNo:digest" announces a record about to be written.
class SeenUids {
public:
    SeenUids(QString path, QString server, QString user);
    /// The file's place in the data folder.
    static QString pathIn(const common::AppDir& appDir);

    /// Reads the file; a missing file is empty. An unfinished last line (a crash
    /// while appending) is dropped from the file: forgetting an id risks a
    /// duplicate, while a cut id could match another message and lose it.
    common::Status load();
    bool contains(const QString& uid) const { return m_uids.contains(uid); }
    qsizetype size() const { return m_uids.size(); }

    /// Appends one id and hands it to the system at once, so it survives a crash
    /// of the process; sync() makes the appended ids survive a power loss.
    common::Status remember(const QString& uid);
    common::Status sync();

    /// Written just before the message's record: a process killed after the
    /// record reached the file but before remember() leaves only this line.
    common::Status intend(const QString& uid, int recordNo, const QByteArray& digest);
    /// Remembers each announced id whose record `isStored` (its record number and
    /// digest match what the history holds); forgets the others.
    common::Status resolveIntents(const std::function<bool(int recordNo, const QByteArray& digest)>& isStored);

    /// Keeps only `pending` of this account (other accounts' lines are untouched),
    /// replacing the file durably; an empty file is removed.
    common::Status keepOnly(const QSet<QString>& pending);

private:
    QByteArray lineFor(const QString& uid) const;

    QString m_path;
    QString m_server;
    QString m_user;
    QSet<QString> m_uids;
    struct Intent {
        QString uid;
        int recordNo = 0;
        QByteArray digest;
    };
    QList<Intent> m_intents;
    QByteArrayList m_otherAccounts;
    bool m_dirty = false;
};

} // namespace corvidan::transport
