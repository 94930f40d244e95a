#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "common/Text.h"
#include "storage/MailRecord.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace corvidan::transport {
class NMail;
}

namespace corvidan::compose {

using common::text::trimBlanks;
/// Blanks removed at the end only.
QString trimTrailingBlanks(const QString& text);

/// The fortune texts appended to mail on request.
namespace fortune {
extern const QString Header;
/// Index 1 … 12 (entry 0 is unused so the numbers read as the program's).
extern const std::array<QString, 13> Texts;
inline constexpr int Count = 12;
/// k = floor(r × 12 + 1), held to 1 … 12 whatever r a generator returns.
int indexFor(double r);
/// CR LF, CR LF, header, CR LF, CR LF, text k.
QString block(int k);
/// A uniform draw from [0, 1) from a generator reseeded from the clock.
float drawFromClock();
} // namespace fortune

/// One message as handed to the SMTP call.
struct OutgoingMail {
    QString server;
    QString to;
    QString from;
    QString subject;
    QString body; // CR LF line ends
    QString attachments; // paths joined by ","
    /// Keeps the exact bytes handed to the server, before they go; a failure
    /// stops this message. Empty: nothing is kept.
    std::function<common::Status(QByteArrayView bytes)> keepOriginal;
};

/// Where the send operation hands its messages. Below 0 means not sent.
class MailSender {
public:
    virtual ~MailSender() = default;
    virtual int send(const OutgoingMail& mail) = 0;
    /// The text of the last failure.
    virtual QString lastError() = 0;
    /// Brackets the passes of one operation, so a sender may keep one connection.
    virtual void beginBatch(int /*count*/) {}
    virtual void endBatch() {}
};

/// The library call; the passes of one bulk send share one SMTP connection.
class NMailSender final : public MailSender {
public:
    explicit NMailSender(transport::NMail& mail) : m_mail(mail) {}
    int send(const OutgoingMail& mail) override;
    QString lastError() override;
    void beginBatch(int count) override;
    void endBatch() override;

private:
    transport::NMail& m_mail;
    bool m_batch = false;
};

/// What the send button reads from the compose window.
struct SendInput {
    QString smtpServer;
    QString sender;
    QString to;
    QString subject;
    QString body; // CR LF line ends
    QString attachments;
    bool fortune = false;
    bool bulk = false;
    /// Record numbers of the address list's rows, row order (no spare entry).
    std::vector<std::int16_t> listRecordNo;
    /// The clock text a sent record is dated with, read when the record is written.
    std::function<QString()> clockText;
    /// r for the fortune draw; empty means drawn from a generator reseeded from the clock.
    std::function<float()> random;
};

/// How the operation talks back to its window.
class SendObserver {
public:
    virtual ~SendObserver() = default;
    virtual void status(const QString& /*text*/) {}
    /// Pass i of n is about to be handed to the server (bulk mode shows this).
    virtual void progress(int /*i*/, int /*n*/) {}
    /// The body box now holds `body` (a fortune block was appended).
    virtual void bodyChanged(const QString& /*body*/) {}
    /// Record n of the sent history was written.
    virtual void recordWritten(std::int16_t /*n*/, const storage::MailRecord& /*record*/) {}
    /// A pass failed; `text` is the library's (or our own) description.
    virtual void sendFailed(const QString& /*text*/) {}
    /// The sent record could not be written, so that pass and all later ones are not sent.
    virtual void recordFailed(const common::Status& /*status*/) {}
    /// The program is ending under the send (its window is gone): start no further pass.
    virtual bool shouldStop() { return false; }
};

struct SendOutcome {
    int passes = 0;      // passes started
    int sent = 0;        // handed over to the server
    int failed = 0;      // the library or an attachment refused
    bool aborted = false; // stopped because a sent record could not be written
    struct Failure {
        QString recipient;
        QString reason;
    };
    std::vector<Failure> failures; // in pass order
};

/// The one box that ends a bulk send: how many left and which addresses did not, and why.
QString bulkSummaryText(const SendOutcome& outcome);

/// The sent history record of one pass: trimmed subject, address and body, the clock text.
storage::MailRecord sentRecordFor(const SendInput& input, const QString& body);
/// Why a message was not sent when its original could not be kept.
QString keptFailureText(const common::Status& status);

/// The first attachment path that cannot be read, or empty.
QString unreadableAttachment(const QString& attachments);
/// The message shown when an attachment cannot be read.
QString unreadableAttachmentText(const QString& path);

/// The send operation: per pass the sent record first, then the fortune, then the library.
class SendMailOperation {
public:
    SendMailOperation(const common::AppDir& appDir, MailSender& sender, SendObserver& observer)
        : m_appDir(appDir), m_sender(sender), m_observer(observer)
    {
    }

    /// Runs every pass; `input.body` ends holding the body as last sent.
    SendOutcome run(SendInput& input);

    static QString sendingText();

private:
    QString recipientFor(const SendInput& input, int pass) const;

    const common::AppDir& m_appDir;
    MailSender& m_sender;
    SendObserver& m_observer;
};

} // namespace corvidan::compose
