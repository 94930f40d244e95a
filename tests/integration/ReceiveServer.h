#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace corvidan::test {

/// The Dovecot instance the `dovecot` fixture started, and its maildir.
class Pop3Mailbox {
public:
    /// Reads `test-servers/pop3.env` of the build tree; `ok()` is false when absent.
    Pop3Mailbox();
    bool ok() const { return !m_env.isEmpty(); }
    QString value(const QString& key) const { return m_env.value(key); }
    QString user() const { return value(QStringLiteral("POP3_USER")); }
    QString password() const { return value(QStringLiteral("POP3_PASSWORD")); }
    int port() const { return value(QStringLiteral("POP3_PORT")).toInt(); }
    /// The server name the program is configured with for this instance.
    QString serverName(int port = 0) const;

    /// Removes every message (the server must not be in a session).
    void clear() const;
    /// Delivers one message as a new maildir file; returns its file name.
    QString deliver(const QByteArray& message) const;
    /// Messages currently in the maildir (new and cur).
    QStringList messages() const;

private:
    QMap<QString, QString> m_env;
};

/// Reads a corpus message by its file name prefix ("07").
QByteArray corpusMessage(const QString& prefix);
/// Reads one of our own fixture messages in tests/data/receive.
QByteArray fixtureMessage(const QString& name);

} // namespace corvidan::test
