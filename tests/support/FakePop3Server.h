#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace corvidan::test {

/// A scripted POP3 server on 127.0.0.1 for the faults a real one will not
/// produce on demand. Its mailbox lives across sessions as a real one does:
/// deletions take effect only when QUIT is answered +OK. Faults set in the
/// `Config` hold for every session; `nextSession()` gives the next one its own.
class FakePop3Server {
public:
    struct Message {
        QByteArray uid;
        QByteArray bytes;
    };

    /// What a session does wrong. Message numbers count from 1; 0 is none.
    struct Faults {
        /// RETR of this message sends half of it and hangs up.
        int dropInRetr = 0;
        /// The reply to this command (e.g. "PASS") is not POP3.
        QByteArray garbageAfter;
        /// After this command the server stays silent.
        QByteArray hangAfter;
        /// DELE of this message is refused.
        int refuseDele = 0;
        /// RETR of this message is refused.
        int refuseRetr = 0;
        /// Replace STAT's reply line, or the lines of LIST or UIDL (between
        /// "+OK" and the final dot), e.g. with absurd numbers.
        QByteArray statLine;
        QByteArray listLines;
        QByteArray uidlLines;
        /// The reply to CAPA, or to RETR of `endlessRetr`, never ends: lines
        /// keep coming until the client goes away.
        bool endlessCapa = false;
        int endlessRetr = 0;
        /// RETR of this message comes `dripBytes` at a time, `dripMs` apart.
        int dripRetr = 0;
        int dripMs = 0;
        int dripBytes = 1;
        /// Every reply waits `slowMs` first: from the first `slowFrom` command
        /// on, or from the first command when `slowFrom` is empty.
        QByteArray slowFrom;
        int slowMs = 0;
        /// After answering RETR of this message in full the server hangs up.
        int closeAfterRetr = 0;
        /// QUIT closes the connection without a reply; nothing is deleted.
        bool quitUnanswered = false;
    };

    struct Config : Faults {
        /// Empty: the server accepts the connection and never says anything.
        QByteArray greeting = "+OK fake ready <1896.697170952@dbc.mtview.ca.us>";
        bool pipelining = true;
        QList<QByteArray> messages;
        /// The UIDL ids of `messages`; "uid-<n>" where missing.
        QList<QByteArray> uids;
    };

    explicit FakePop3Server(Config config);
    /// A well-behaved server holding `mailbox`.
    explicit FakePop3Server(const QList<Message>& mailbox);
    ~FakePop3Server();
    FakePop3Server(const FakePop3Server&) = delete;
    FakePop3Server& operator=(const FakePop3Server&) = delete;

    /// The faults of the next session only, in place of the configured ones.
    void nextSession(Faults faults);
    /// The same, as changes to a session without faults.
    void nextSession(const std::function<void(Faults&)>& script);

    /// The settings form that allows clear text: the fake server has no TLS.
    QString server() const;
    quint16 port() const { return m_port; }
    /// Command lines received so far, every session in turn.
    QList<QByteArray> commands() const;
    /// True when, without PIPELINING, a command arrived before the previous reply was sent.
    bool sawUnexpectedPipelining() const { return m_unexpectedPipelining; }
    /// Messages (numbered as in their session) the last confirmed QUIT deleted.
    QList<int> applied() const;
    /// DELE commands accepted, applied or not.
    QList<int> marked() const;
    /// What is on the server now.
    QList<Message> mailbox() const;
    int sessions() const { return m_sessions; }
    /// Waits until no session is being served (a slow one may outlive its client).
    void waitIdle() const;

private:
    void run();
    void serve(int fd, const Faults& faults);
    QByteArray reply(const QByteArray& line, const Faults& faults, bool& close, bool& hang);
    /// Sends what reply() left to stream; false when the client went away.
    bool stream(int fd, const Faults& faults);

    Config m_config;
    std::optional<Faults> m_next;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_unexpectedPipelining{false};
    std::atomic<int> m_sessions{0};
    std::atomic<bool> m_busy{false};
    mutable std::mutex m_mutex;
    QList<Message> m_mailbox;
    QList<bool> m_deleted;
    QList<QByteArray> m_commands;
    QList<int> m_marked;
    QList<int> m_applied;
    std::thread m_thread;
    /// Set by reply(): the rest of the reply, sent endlessly or in drips.
    QByteArray m_endless;
    QByteArray m_drip;
};

/// A man in the middle on 127.0.0.1: forwards every connection to `targetPort`,
/// keeps every byte the client sent (what anyone on the path could read), and
/// while told to strip, removes the server's offer of TLS (POP3 "STLS" in CAPA,
/// SMTP "STARTTLS" in EHLO) from its replies.
class TlsStrippingProxy {
public:
    explicit TlsStrippingProxy(quint16 targetPort);
    ~TlsStrippingProxy();
    TlsStrippingProxy(const TlsStrippingProxy&) = delete;
    TlsStrippingProxy& operator=(const TlsStrippingProxy&) = delete;

    quint16 port() const { return m_port; }
    void setStripping(bool strip) { m_strip = strip; }
    /// What clients sent through the proxy so far, every connection in turn.
    QByteArray clientBytes() const;
    void clearClientBytes();

private:
    void run();
    void relay(int client);

    quint16 m_target = 0;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_strip{false};
    mutable std::mutex m_mutex;
    QByteArray m_clientBytes;
    std::thread m_thread;
};

} // namespace corvidan::test
