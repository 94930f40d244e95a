#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "storage/MailRecord.h"

#include <QString>
#include <cstdint>

namespace corvidan::transport {

class NMail;

/// The mail library calls the receive makes, in the library's own terms. NMail
/// in production; tests put a scripted library behind it for faults a real
/// server will not produce.
class MailClient {
public:
    virtual ~MailClient() = default;
    virtual int connect(const QString& server) = 0;
    virtual int authenticate(int session, const QString& id, const QString& password, int apop) = 0;
    virtual int getMailStatus(int session, int n, QString& subject, QString& date, QString& from,
                              QString& header) = 0;
    virtual int getMailSize(int session, int n) = 0;
    virtual int getMail(int session, int n, QString& subject, QString& date, QString& from,
                        QString& header, QString& body) = 0;
    virtual int attachmentFileFirst(QString& subject, QString& date, QString& from, QString& header,
                                    QString& body, const QString& folder, const QString& scratchPath,
                                    const QString& messageText) = 0;
    virtual int attachmentFileClose() = 0;
    virtual int deleteMail(int session, int n) = 0;
    virtual int close(int session) = 0;
    virtual QString lastErrorText() = 0;
    /// UIDL of message n, empty when the server gives none.
    virtual QString uniqueId(int session, int n) = 0;
    /// True when the last close was acknowledged, i.e. the deletions were applied.
    virtual bool closeConfirmed() const = 0;
};

/// MailClient over the real library.
class NMailClient : public MailClient {
public:
    explicit NMailClient(NMail& mail) : m_mail(mail) {}
    int connect(const QString& server) override;
    int authenticate(int session, const QString& id, const QString& password, int apop) override;
    int getMailStatus(int session, int n, QString& subject, QString& date, QString& from,
                      QString& header) override;
    int getMailSize(int session, int n) override;
    int getMail(int session, int n, QString& subject, QString& date, QString& from, QString& header,
                QString& body) override;
    int attachmentFileFirst(QString& subject, QString& date, QString& from, QString& header,
                            QString& body, const QString& folder, const QString& scratchPath,
                            const QString& messageText) override;
    int attachmentFileClose() override;
    int deleteMail(int session, int n) override;
    int close(int session) override;
    QString lastErrorText() override;
    QString uniqueId(int session, int n) override;
    bool closeConfirmed() const override;

private:
    NMail& m_mail;
};

/// The message just downloaded, as the history viewer shows it.
struct ReceivedMessage {
    QString subject;
    QString from;
    QString date;
    QString body;
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
    /// OK-only box; an empty title means the application's title.
    virtual void messageBox(const QString& text, const QString& title) = 0;
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
    QString resultLine;
    /// Why the run did not complete, for callers without windows.
    QString errorText;

    /// The run went through: every waiting message was handled (or a cancel asked to stop).
    bool completed() const { return end == ReceiveEnd::Completed || end == ReceiveEnd::Cancelled; }
};

/// Fetches every waiting message, extracts attachments, stores each message in the
/// received history and deletes it on the server only once its record is on disk.
ReceiveOutcome ReceiveMail(const common::AppDir& appDir, const ReceiveSettings& settings,
                           MailClient& mail, ReceiveHost& host);

/// "header CR LF body CR LF" split into lines at CR LF or a lone CR, each line
/// ended by CR LF, the whole ended by one NUL.
QString BuildMessageText(const QString& header, const QString& body);

/// The user's text for a record that could not be written.
QString StoreFailureText(const common::Status& status);

namespace receive_texts {
inline constexpr char16_t Checking[] = u"メールのチェックをしています。";
inline constexpr char16_t NewMailSuffix[] = u"の新着メール有り。";
inline constexpr char16_t NoNewMail[] = u"新着メール無し。";
inline constexpr char16_t ErrorTitle[] = u"エラー";
inline constexpr char16_t ConnectFailed[] = u"POP3サーバーに接続できません: ";
inline constexpr char16_t DataFolderMissing[] =
    u"データフォルダ「★MAilData」が見つかりません。受信したメールを保存できないため、受信しませんで"
    u"した（メールはサーバーに残っています）。";
inline constexpr char16_t AttachmentOpenFailed[] = u"添付ファイルをオープンできません";
inline constexpr char16_t PartsMissing[] = u"分割されたメールが全て揃っていません";
inline constexpr char16_t DeletionUnconfirmed[] =
    u"受信したメールは着信履歴に保存しました。サーバーから削除できなかったメールは、次回の受信で二重に保存せずに削除します。";
inline constexpr char16_t AttachmentNotice[] =
    u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪";
} // namespace receive_texts

} // namespace corvidan::transport
