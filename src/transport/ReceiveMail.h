#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "storage/MailRecord.h"
#include "transport/NMail.h"
#include "transport/NetError.h"

#include <QList>
#include <QString>
#include <cstdint>

namespace corvidan::transport {

class NMail;

/// The POP3 mailbox as the receive uses it: one typed call per protocol step.
/// NMailMailbox in production; tests script one.
class Mailbox {
public:
    virtual ~Mailbox() = default;
    /// False when no connection could be made (error() says why).
    virtual bool connect(const QString& server) = 0;
    /// The number of waiting messages, below 0 on failure.
    virtual int login(const QString& id, const QString& password, bool apop) = 0;
    /// UIDL of message n, empty when the server gives none.
    virtual QString uniqueId(int n) = 0;
    virtual MailboxFetch fetch(int n) = 0;
    /// Marks n for deletion; the server applies it at close().
    virtual bool remove(int n) = 0;
    /// QUIT; true once the server confirmed it and refused no deletion.
    virtual bool close() = 0;
    /// Why the last call failed.
    virtual NetError error() const = 0;
};

/// Mailbox over the mail library's POP3 session.
class NMailMailbox : public Mailbox {
public:
    explicit NMailMailbox(NMail& mail) : m_mail(mail) {}
    bool connect(const QString& server) override;
    int login(const QString& id, const QString& password, bool apop) override;
    QString uniqueId(int n) override;
    MailboxFetch fetch(int n) override;
    bool remove(int n) override;
    bool close() override;
    NetError error() const override;

private:
    NMail& m_mail;
    int m_session = -1;
};

/// The message just downloaded, as the history viewer shows it.
struct ReceivedMessage {
    QString subject;
    QString from;
    QString date;
    QString body;
};

/// What a receive has to tell the user; the front end words it.
enum class ReceiveProblem {
    None,
    /// No POP3 server is set (no box).
    NoServer,
    /// Id or password missing (no box: the account is asked for).
    NoAccount,
    DataFolderMissing,
    /// `net` says why; `detail` is the server setting, for when it says nothing.
    ConnectFailed,
    LoginFailed,
    /// `net` says why the fetch broke off.
    FetchFailed,
    /// An attachment file could not be created; `detail` is the file.
    AttachmentNotWritten,
    /// `status` is the history's failure.
    RecordNotStored,
    /// Parts of a split message never came; they are stored one by one (not a stop).
    PartsMissing,
    /// `left` lists the messages left on the server (not a stop).
    LeftOnServer,
    /// Stored messages may still be on the server; `net` says why.
    DeletionUnconfirmed,
};

/// One message the receive left on the server.
struct LeftMessage {
    int n = 0;
    /// Over the size bound (with its listed size), else refused by the server.
    bool tooBig = false;
    qint64 listedSize = -1;
    /// Why the server refused it, with the server's words.
    NetError refusal;
};

struct ReceiveNotice {
    ReceiveProblem problem = ReceiveProblem::None;
    NetError net;
    common::Status status;
    QString detail;
    QList<LeftMessage> left;
};

/// What a receive shows and asks for: the launcher's lines and picture, the
/// viewer's boxes, the account dialog and message boxes on a desktop; plain
/// output in the headless tool.
class ReceiveHost {
public:
    virtual ~ReceiveHost() = default;
    virtual void setStatusLine(const QString& text) = 0;
    virtual void setResultLine(const QString& text) = 0;
    virtual void showNewMailPicture(const QString& path) = 0;
    /// The account just read from the account file (the dialog's boxes and the
    /// process-wide id and password).
    virtual void setAccount(const QString& id, const QString& password) = 0;
    /// Id or password is missing: ask for them (the run does not wait).
    virtual void requestAccount() = 0;
    /// A box to show (OK only), worded by the front end.
    virtual void notify(const ReceiveNotice& notice) = 0;
    virtual void showMessage(const ReceivedMessage& message) = 0;
    virtual void setCurrentRecordNo(std::int16_t recordNo) = 0;
    /// The record just appended, as the history now holds it (the received
    /// history's buffer, which the reply window reads).
    virtual void setReceivedRecord(const storage::MailRecord& record) = 0;
    /// Called before message `index` of `count`; a desktop keeps its windows painted here.
    virtual void progress(int index, int count) = 0;
    /// Asked after each stored message; true stops the run there.
    virtual bool cancelRequested() = 0;
};

struct ReceiveSettings {
    QString pop3Server;
    std::int16_t apopFlag = 0;
};

enum class ReceiveEnd {
    NoServer,
    NoDataFolder,
    NoConnection,
    NoAccount,
    AuthFailed,
    Completed,
    Cancelled,
    FetchFailed,
    StoreFailed,
};

struct ReceiveOutcome {
    ReceiveEnd end = ReceiveEnd::NoServer;
    int waiting = 0;
    int stored = 0;
    /// Messages already in the history from an interrupted run, deleted without storing.
    int duplicates = 0;
    /// Messages left on the server because they were over the size bound or refused.
    int leftOnServer = 0;
    QString resultLine;
    /// Why the run did not complete, for callers without windows.
    ReceiveNotice problem;

    /// The run went through: every waiting message was handled (or a cancel asked to stop).
    bool completed() const { return end == ReceiveEnd::Completed || end == ReceiveEnd::Cancelled; }
};

/// Fetches every waiting message, extracts attachments, stores each message in the
/// received history and deletes it on the server only once its record is on disk.
ReceiveOutcome ReceiveMail(const common::AppDir& appDir, const ReceiveSettings& settings,
                           Mailbox& mailbox, ReceiveHost& host);

/// The largest message a receive fetches: "MaxMessageMB" of section [RECEIVE] in
/// "★MAilData\receive.ini" (a file the user writes to raise the bound), else
/// the library's default. Bigger messages stay on the server with a message.
qint64 ReadMaxMessageBytes(const common::AppDir& appDir, qint64 fallback);

// The launcher's status lines and the lines written into records: what the
// receive produces, not failures (those are ReceiveNotice).
namespace receive_texts {
inline constexpr char16_t Checking[] = u"メールのチェックをしています。";
/// After Checking while the messages come in: "（n / waiting）".
inline constexpr char16_t CheckingProgress[] = u"（%1 / %2）";
inline constexpr char16_t NewMailSuffix[] = u"の新着メール有り。";
inline constexpr char16_t NoNewMail[] = u"新着メール無し。";
inline constexpr char16_t FragmentSaved[] =
    u"この部分の原文は添付フォルダの「%1」に保存しました。";
inline constexpr char16_t AttachmentNotice[] =
    u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪";
} // namespace receive_texts

} // namespace corvidan::transport
