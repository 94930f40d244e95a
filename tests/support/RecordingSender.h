#pragma once

#include "compose/SendMail.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvidan::test {

/// What recording senders were handed; one log outlives the senders a window
/// makes for each send.
struct SendLog {
    std::vector<compose::OutgoingMail> sent;
    std::vector<int> batches;
    /// What send() returns (0 sent, -1 failed) and lastError() then says.
    int result = 0;
    QString error;
    /// Runs after each message is recorded (a test changes the world mid-send here).
    std::function<void(const compose::OutgoingMail&)> onSend;

    void failWith(const QString& text) { result = -1, error = text; }
};

/// A mail sender that records every message in a SendLog instead of sending it.
class RecordingSender final : public compose::MailSender {
public:
    explicit RecordingSender(SendLog& log) : m_log(log) {}

    /// What this double hands over in place of a built message: enough to tell passes apart.
    static QByteArray bytesOf(const compose::OutgoingMail& mail)
    {
        return (QStringLiteral("To: ") + mail.to + QStringLiteral("\r\nSubject: ") + mail.subject +
                QStringLiteral("\r\n\r\n") + mail.body)
            .toUtf8();
    }

    int send(const compose::OutgoingMail& mail) override
    {
        if (mail.keepOriginal) {
            if (const common::Status kept = mail.keepOriginal(bytesOf(mail)); !kept) {
                m_log.error = compose::keptFailureText(kept);
                return -7;
            }
        }
        m_log.sent.push_back(mail);
        if (m_log.onSend)
            m_log.onSend(mail);
        return m_log.result;
    }
    QString lastError() override { return m_log.error; }
    void beginBatch(int count) override { m_log.batches.push_back(count); }

    /// For a window's setSenderFactory: every send gets a sender over `log`.
    static std::function<std::unique_ptr<compose::MailSender>()> factory(SendLog& log)
    {
        return [&log] { return std::make_unique<RecordingSender>(log); };
    }

private:
    SendLog& m_log;
};

} // namespace corvidan::test
