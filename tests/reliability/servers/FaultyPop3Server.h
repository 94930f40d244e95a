#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

namespace corvidan::test {

/// A POP3 server on 127.0.0.1 with a mailbox that lives across sessions, as a
/// real one does: deletions take effect only when QUIT is answered +OK. Each
/// session can be given one fault; sessions without one behave.
class FaultyPop3Server {
public:
    struct Message {
        QByteArray uid;
        QByteArray bytes;
    };

    enum class Fault {
        None,
        DropInRetr,     ///< RETR of `message` sends half of it, then hangs up
        Garbage,        ///< the reply to `verb` is not POP3
        Slow,           ///< every reply from `verb` on waits `delayMs` first
        Silent,         ///< after `verb` the server says nothing more
        RefuseDele,     ///< DELE of `message` is answered -ERR
        CloseAfterRetr, ///< after answering RETR of `message` the server hangs up
        QuitUnanswered, ///< QUIT closes the connection without +OK (nothing deleted)
        Drip,           ///< RETR of `message` comes one byte every `delayMs`
    };
    struct Script {
        Fault fault = Fault::None;
        QByteArray verb;
        int message = 0;
        int delayMs = 0;
    };

    explicit FaultyPop3Server(QList<Message> mailbox);
    ~FaultyPop3Server();
    FaultyPop3Server(const FaultyPop3Server&) = delete;
    FaultyPop3Server& operator=(const FaultyPop3Server&) = delete;

    /// The fault of the next session (once).
    void nextSession(Script script);
    QString server() const;
    QList<Message> mailbox() const;
    int sessions() const { return m_sessions; }
    /// Waits until no session is being served (a slow one may outlive its client).
    void waitIdle() const;

private:
    void run();
    void serve(int fd, const Script& script);
    QByteArray reply(const QByteArray& line, const Script& script, bool& close, bool& silent);

    mutable std::mutex m_mutex;
    QList<Message> m_mailbox;
    QList<bool> m_marked;
    Script m_next;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_sessions{0};
    std::atomic<bool> m_busy{false};
    std::thread m_thread;
};

} // namespace corvidan::test
