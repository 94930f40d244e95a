#include "transport/ReceiveMail.h"

#include "common/Cp932.h"
#include "common/FixedField.h"
#include "storage/HistoryFile.h"
#include "storage/ProfileFile.h"
#include "transport/Attachment.h"
#include "transport/NMail.h"
#include "transport/SeenUids.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace corvidan::transport {

using common::CutAtNul;
using common::ErrorCode;
using common::Status;
namespace texts = receive_texts;

namespace {

const QString CrLf = QStringLiteral("\r\n");

/// Blanks only: the stored fields keep tabs and line breaks at their ends.
QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

/// One run of the receive; each step of the procedure is one member function.
class Receiver {
public:
    Receiver(const common::AppDir& appDir, const ReceiveSettings& settings, MailClient& mail,
             ReceiveHost& host)
        : m_appDir(appDir), m_settings(settings), m_mail(mail), m_host(host)
    {
    }

    ReceiveOutcome run();

private:
    bool dataFolderPresent();
    bool connectAndLogin();
    void receiveAll();
    bool receiveOne(int n, const QString& uid);
    bool fetch(int n, QString& body);
    void extractAttachments(const QString& messageText, QString& body);
    bool store(const ReceivedMessage& message, const QString& uid);
    bool flushStored();
    bool isStored(int recordNo, const QByteArray& digest) const;
    void closeSession();
    void report();
    void stop(ReceiveEnd end, const QString& text, const QString& title);

    const common::AppDir& m_appDir;
    const ReceiveSettings& m_settings;
    MailClient& m_mail;
    ReceiveHost& m_host;

    int m_session = -1;
    QString m_user;
    QString m_subject, m_date, m_from, m_header; // kept from one message to the next
    std::optional<SeenUids> m_seen;
    // Resolved once per run: each resolution lists folders to match letter case.
    QString m_folder, m_scratch;
    std::optional<storage::HistoryFile> m_history;
    QSet<QString> m_deletedUids;
    // Stored but not yet flushed to disk, so not yet remembered nor deleted.
    struct Unflushed {
        int n;
        QString uid;
    };
    QList<Unflushed> m_unflushed;
    QElapsedTimer m_sinceFlush;
    bool m_flushFailed = false;
    ReceiveOutcome m_out;
};

/// One flush covers the messages stored within this time: on a fast link that is
/// dozens of messages, on a slow one every message still gets its own.
constexpr qint64 FlushIntervalMs = 50;

ReceiveOutcome Receiver::run()
{
    if (!m_settings.pop3Server.isEmpty() && dataFolderPresent() && connectAndLogin()) {
        if (m_out.waiting > 0)
            receiveAll();
    }
    if (m_session != -1)
        closeSession();
    report();
    return m_out;
}

bool Receiver::dataFolderPresent()
{
    if (QFileInfo(m_appDir.path(common::paths::DataDir)).isDir())
        return true;
    // Nothing received could be kept, and the account file lives there too: asking
    // for an account that cannot be saved would repeat at every receive without a word why.
    stop(ReceiveEnd::NoDataFolder, QString::fromUtf16(texts::DataFolderMissing),
         QString::fromUtf16(texts::ErrorTitle));
    return false;
}

bool Receiver::connectAndLogin()
{
    m_session = m_mail.connect(m_settings.pop3Server);
    m_host.setStatusLine(QString::fromUtf16(texts::Checking));
    if (m_session == -1) {
        // "新着メール無し。" alone would pass a server that was never reached
        // (wrong name, no network, an untrusted certificate) off as an empty mailbox.
        QString why = CutAtNul(m_mail.lastErrorText());
        if (why.isEmpty())
            why = QString::fromUtf16(texts::ConnectFailed) + m_settings.pop3Server;
        stop(ReceiveEnd::NoConnection, why, QString::fromUtf16(texts::ErrorTitle));
        return false;
    }
    m_user = storage::ReadAccountValue(m_appDir, QStringLiteral("NAME"));
    const QString password = storage::ReadAccountValue(m_appDir, QStringLiteral("NAME2"));
    m_host.setAccount(m_user, password);
    if (m_user.isEmpty() || password.isEmpty()) {
        m_out.end = ReceiveEnd::NoAccount;
        m_out.errorText = QStringLiteral("ID・パスワードが設定されていません。");
        m_host.requestAccount();
        return false;
    }
    m_out.waiting = m_mail.authenticate(m_session, m_user, password, m_settings.apopFlag != 0 ? -1 : 0);
    if (m_out.waiting < 0) {
        stop(ReceiveEnd::AuthFailed, CutAtNul(m_mail.lastErrorText()), QString::fromUtf16(texts::ErrorTitle));
        return false;
    }
    m_out.end = ReceiveEnd::Completed;
    return true;
}

void Receiver::receiveAll()
{
    m_folder = m_appDir.path(common::paths::AttachmentFolder);
    m_scratch = m_appDir.path(common::paths::ScratchMessage);
    // The folder is delivered with the program; recreate it rather than lose attachments.
    QDir().mkpath(m_folder);
    m_history.emplace(m_appDir, storage::HistoryKind::Received);
    m_history->deferFlushes();
    m_sinceFlush.start();
    m_seen.emplace(SeenUids::pathIn(m_appDir), m_settings.pop3Server, m_user);
    if (!m_seen->load())
        m_seen.reset(); // unreadable: receive without the protection rather than not at all
    else
        (void)m_seen->resolveIntents([this](int recordNo, const QByteArray& digest) {
            return isStored(recordNo, digest);
        });
    for (int n = 1; n <= m_out.waiting; ++n) {
        m_host.setStatusLine(QString::fromUtf16(texts::Checking) +
                             QStringLiteral("（%1 / %2）").arg(n).arg(m_out.waiting));
        m_host.progress(n, m_out.waiting);
        const QString uid = m_mail.uniqueId(m_session, n);
        if (!uid.isEmpty() && m_seen && m_seen->contains(uid)) {
            // Stored by a run whose deletions the server never applied.
            m_mail.deleteMail(m_session, n);
            m_deletedUids.insert(uid);
            ++m_out.duplicates;
            continue;
        }
        if (!receiveOne(n, uid))
            break;
        if (n < m_out.waiting && m_host.cancelRequested()) {
            m_out.end = ReceiveEnd::Cancelled;
            break;
        }
    }
    // However the loop ended, what was stored is made safe and deleted.
    flushStored();
    m_host.setStatusLine(QString::fromUtf16(texts::Checking));
}

bool Receiver::receiveOne(int n, const QString& uid)
{
    QString body;
    if (!fetch(n, body))
        return false;
    const bool marked = CutAtNul(body).contains(QStringLiteral("attachment"), Qt::CaseSensitive);
    // Built from the fetched text rather than read back from the code page 932
    // scratch file, so 8-bit parts outside that code page reach MIME decoding intact.
    extractAttachments(BuildMessageText(m_header, body), body);

    ReceivedMessage message{CutAtNul(m_subject), CutAtNul(m_from), CutAtNul(m_date), CutAtNul(body)};
    if (marked)
        message.body += CrLf + QString::fromUtf16(texts::AttachmentNotice);
    m_host.showMessage(message);
    if (!store(message, uid))
        return false;
    m_unflushed.append({n, uid});
    ++m_out.stored;
    return m_sinceFlush.elapsed() < FlushIntervalMs || flushStored();
}

/// A message is deleted on the server only once its record (and its attachments)
/// is on disk; its id is remembered only then too, or a power loss could keep the
/// id of a record that never reached the disk and skip the message for good.
bool Receiver::flushStored()
{
    if (m_unflushed.isEmpty())
        return true;
    Status st = m_history->Flush();
    if (const Status attachments = attachment::syncWritten(); st && !attachments)
        st = attachments;
    if (!st) {
        // The messages stay on the server; their announced records (kept at the
        // close) keep the next receive from storing them twice.
        m_unflushed.clear();
        m_flushFailed = true;
        if (m_out.completed())
            stop(ReceiveEnd::StoreFailed, StoreFailureText(st), QString());
        return false;
    }
    for (const Unflushed& one : std::as_const(m_unflushed)) {
        if (m_seen && !one.uid.isEmpty())
            (void)m_seen->remember(one.uid); // a failure only risks a duplicate, never a loss
        m_mail.deleteMail(m_session, one.n);
        m_deletedUids.insert(one.uid);
    }
    m_unflushed.clear();
    m_sinceFlush.restart();
    return true;
}

bool Receiver::fetch(int n, QString& body)
{
    m_mail.getMailStatus(m_session, n, m_subject, m_date, m_from, m_header);
    const int size = m_mail.getMailSize(m_session, n);
    body = QString(qMax(size, 0) + 1, u' ');
    const int result = m_mail.getMail(m_session, n, m_subject, m_date, m_from, m_header, body);
    if (size < 0 || result < 0) {
        // Storing a half-fetched message would put a broken record in the history.
        stop(ReceiveEnd::FetchFailed, CutAtNul(m_mail.lastErrorText()), QString::fromUtf16(texts::ErrorTitle));
        return false;
    }
    return true;
}

void Receiver::extractAttachments(const QString& messageText, QString& body)
{
    {
        QFile file(m_scratch);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(common::cp932::encode(CutAtNul(m_header) + CrLf + CutAtNul(body) + CrLf));
    }
    const auto result = static_cast<std::int16_t>(m_mail.attachmentFileFirst(
        m_subject, m_date, m_from, m_header, body, m_folder, m_scratch, messageText));
    m_mail.attachmentFileClose();
    if (result == -5)
        m_host.messageBox(QString::fromUtf16(texts::AttachmentOpenFailed), QString());
    else if (result == -6)
        m_host.messageBox(QString::fromUtf16(texts::PartsMissing), QString());
    QFile::remove(m_scratch);
}

bool Receiver::store(const ReceivedMessage& message, const QString& uid)
{
    storage::MailRecord record;
    record.Subject = trimBlanks(message.subject);
    record.Address = trimBlanks(message.from);
    record.Date = trimBlanks(message.date);
    record.Body = trimBlanks(message.body);
    // The record is in the file the moment it is written, before remember() can
    // run: announce it, so a run killed in between is not stored twice.
    if (const std::optional<std::int16_t> next = m_history->NextRecordNo(); next && m_seen && !uid.isEmpty())
        (void)m_seen->intend(uid, *next, QCryptographicHash::hash(record.toBytes(), QCryptographicHash::Sha1));
    std::int16_t recordNo = 0;
    const Status st = m_history->AppendRecord(record, &recordNo);
    if (!st) {
        stop(ReceiveEnd::StoreFailed, StoreFailureText(st), QString());
        return false;
    }
    m_host.setCurrentRecordNo(recordNo);
    m_host.setReceivedRecord(storage::MailRecord::fromBytes(record.toBytes().constData()));
    return true;
}

bool Receiver::isStored(int recordNo, const QByteArray& digest) const
{
    QFile file(m_history->path());
    if (recordNo < 1 || !file.open(QIODevice::ReadOnly) ||
        !file.seek(qint64(recordNo - 1) * storage::MailRecord::Size))
        return false;
    const QByteArray bytes = file.read(storage::MailRecord::Size);
    return bytes.size() == storage::MailRecord::Size &&
           QCryptographicHash::hash(bytes, QCryptographicHash::Sha1) == digest;
}

void Receiver::closeSession()
{
    QSet<QString> pending;
    if (m_seen) {
        // Ids still on the server and not deleted now stay remembered.
        for (int n = 1; n <= m_out.waiting; ++n) {
            const QString uid = m_mail.uniqueId(m_session, n);
            if (m_seen->contains(uid) && !m_deletedUids.contains(uid))
                pending.insert(uid);
        }
        (void)m_seen->sync(); // the ids must be on disk before the server applies deletions
    }
    const int closed = m_mail.close(m_session);
    m_session = -1;
    // A refused DELE or a QUIT never answered: some stored messages are still on
    // the server, and only their remembered ids keep the next run from storing them again.
    const bool allDeleted = closed >= 0 && m_mail.closeConfirmed();
    if (!allDeleted && m_out.completed() && m_out.stored + m_out.duplicates > 0)
        m_host.messageBox(CutAtNul(m_mail.lastErrorText()) + CrLf + QString::fromUtf16(texts::DeletionUnconfirmed),
                          QString::fromUtf16(texts::ErrorTitle));
    if (m_seen && allDeleted && !m_flushFailed)
        (void)m_seen->keepOnly(pending);
    // An empty mailbox holds none of the remembered messages: a run killed after the
    // server applied its deletions leaves ids that nothing else would ever prune.
    if (!m_seen && allDeleted && m_out.waiting == 0 && QFile::exists(SeenUids::pathIn(m_appDir))) {
        SeenUids seen(SeenUids::pathIn(m_appDir), m_settings.pop3Server, m_user);
        if (seen.load()) {
            (void)seen.resolveIntents([](int, const QByteArray&) { return false; });
            (void)seen.keepOnly({});
        }
    }
}

void Receiver::report()
{
    if (m_settings.pop3Server.isEmpty()) {
        m_out.end = ReceiveEnd::NoServer;
        m_out.errorText = QStringLiteral("POP3サーバーが設定されていません。");
    }
    if (m_out.stored < 1) {
        m_out.resultLine = QString::fromUtf16(texts::NoNewMail);
    } else {
        m_out.resultLine = QString::number(m_out.stored) + QString::fromUtf16(texts::NewMailSuffix);
        m_host.showNewMailPicture(m_appDir.path(common::paths::NewMailPicture));
    }
    m_host.setResultLine(m_out.resultLine);
}

void Receiver::stop(ReceiveEnd end, const QString& text, const QString& title)
{
    m_out.end = end;
    m_out.errorText = text;
    m_host.messageBox(text, title);
}

} // namespace

ReceiveOutcome ReceiveMail(const common::AppDir& appDir, const ReceiveSettings& settings,
                           MailClient& mail, ReceiveHost& host)
{
    return Receiver(appDir, settings, mail, host).run();
}

QString BuildMessageText(const QString& header, const QString& body)
{
    const QString raw = CutAtNul(header) + CrLf + CutAtNul(body) + CrLf;
    QString text;
    text.reserve(raw.size() + raw.size() / 32 + 2);
    qsizetype start = 0;
    while (start < raw.size()) {
        qsizetype end = raw.indexOf(u'\r', start);
        if (end < 0)
            end = raw.size();
        text += QStringView(raw).mid(start, end - start);
        text += CrLf;
        start = end + 1;
        if (start < raw.size() && raw[start] == u'\n')
            ++start;
    }
    text += QChar(u'\0');
    return text;
}

QString StoreFailureText(const Status& status)
{
    QString reason;
    switch (status.code()) {
    case ErrorCode::DiskFull:
        reason = QStringLiteral("ディスクの空き容量が足りません。");
        break;
    case ErrorCode::TooManyRecords:
        reason = QStringLiteral("着信履歴が上限の32767件に達しています。不要なメールを削除してから受信して下さい。");
        break;
    case ErrorCode::NotFound:
        reason = QStringLiteral("データフォルダ「★MAilData」が見つかりません。");
        break;
    default:
        reason = QStringLiteral("着信履歴のファイルに書き込めません。");
        break;
    }
    QString text = QStringLiteral("受信したメールを着信履歴に保存できませんでした。\r\n") + reason +
                   QStringLiteral("\r\nこのメールと以降のメールはサーバーに残してあります。");
    if (!status.detail().isEmpty())
        text += QStringLiteral("\r\n（") + status.detail() + QStringLiteral("）");
    return text;
}

// NMailClient: each call is the library's own, with the fixed flags of the receive.

int NMailClient::connect(const QString& server) { return m_mail.NMailPop3Connect(server); }

int NMailClient::authenticate(int session, const QString& id, const QString& password, int apop)
{
    return m_mail.NMailPop3Authenticate(session, id, password, apop);
}

int NMailClient::getMailStatus(int session, int n, QString& subject, QString& date, QString& from,
                               QString& header)
{
    return m_mail.NMailPop3GetMailStatus(session, n, subject, date, from, header, 0);
}

int NMailClient::getMailSize(int session, int n) { return m_mail.NMailPop3GetMailSize(session, n); }

int NMailClient::getMail(int session, int n, QString& subject, QString& date, QString& from,
                         QString& header, QString& body)
{
    return m_mail.NMailPop3GetMail(session, n, subject, date, from, header, body, 0, 0);
}

int NMailClient::attachmentFileFirst(QString& subject, QString& date, QString& from, QString& header,
                                     QString& body, const QString& folder, const QString& scratchPath,
                                     const QString& messageText)
{
    return m_mail.NMailAttachmentFileFirst(0, subject, date, from, header, body, folder, scratchPath,
                                           messageText, 0);
}

int NMailClient::attachmentFileClose() { return m_mail.NMailAttachmentFileClose(0); }

int NMailClient::deleteMail(int session, int n) { return m_mail.NMailPop3DeleteMail(session, n); }

int NMailClient::close(int session) { return m_mail.NMailPop3Close(session); }

QString NMailClient::lastErrorText()
{
    QString text;
    int size = NMail::BufferSize;
    m_mail.NMailGetMessage(0, text, size);
    return CutAtNul(text);
}

QString NMailClient::uniqueId(int session, int n) { return m_mail.Pop3UniqueId(session, n); }

bool NMailClient::closeConfirmed() const { return m_mail.Pop3LastCloseConfirmed(); }

} // namespace corvidan::transport
