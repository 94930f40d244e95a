#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

namespace corvidan::test {

/// A small POP3 server on 127.0.0.1 for the faults a real one will not
/// produce on demand. It serves `messages` and misbehaves as configured.
class FakePop3Server {
public:
    struct Config {
        /// Empty: the server accepts the connection and never says anything.
        QByteArray greeting = "+OK fake ready <1896.697170952@dbc.mtview.ca.us>";
        bool pipelining = true;
        QList<QByteArray> messages;
        /// RETR of this message sends half of it and drops the connection.
        int dropInRetr = 0;
        /// The reply to this command (e.g. "PASS") is garbage.
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
    };

    explicit FakePop3Server(Config config);
    ~FakePop3Server();
    FakePop3Server(const FakePop3Server&) = delete;
    FakePop3Server& operator=(const FakePop3Server&) = delete;

    /// The settings form that allows clear text: the fake server has no TLS.
    QString server() const;
    /// Command lines received so far.
    QList<QByteArray> commands() const;
    /// True when, without PIPELINING, a command arrived before the previous reply was sent.
    bool sawUnexpectedPipelining() const { return m_unexpectedPipelining; }
    /// Messages the client deleted and the server applied (QUIT seen).
    QList<int> applied() const;
    /// DELE commands accepted, applied or not.
    QList<int> marked() const;

private:
    void run();
    void serve(int fd);
    QByteArray reply(const QByteArray& line, bool& close, bool& hang);
    /// Sends what reply() left to stream; false when the client went away.
    bool stream(int fd);

    Config m_config;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_unexpectedPipelining{false};
    mutable std::mutex m_mutex;
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
