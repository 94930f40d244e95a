#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace corvidan::test {

/// KEY=VALUE lines of a server state file; empty when the file is missing.
QHash<QString, QString> readEnvFile(const QString& path);

/// Folder where the CTest fixtures keep the test servers' state.
QString serverStateDir();

/// The private Dovecot of the `dovecot` fixture, as its pop3.env describes it.
struct Pop3TestServer {
    QString host;
    quint16 port = 0;
    quint16 tlsPort = 0;
    QString user;
    QString password;
    QString maildir;
    QString caFile;

    /// Reads serverStateDir()/pop3.env; `isValid()` is false when the fixture did not run.
    static Pop3TestServer load();
    bool isValid() const { return port != 0 && !maildir.isEmpty(); }

    /// "127.0.0.1:port" (STLS offered), or the POP3S port with `pop3s://` when `tls`.
    QString server(bool tls = false) const;

    /// Removes every message from the mailbox.
    void clearMailbox() const;
    /// Delivers one message; messages are listed in the order they were added.
    void addMessage(const QByteArray& message) const;
    /// Messages in the mailbox (new and cur).
    int messageCount() const;
};

} // namespace corvidan::test
