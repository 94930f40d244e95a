#include "transport/SmtpClient.h"

#include "transport/TlsTrust.h"

#include <QFile>
#include <QSysInfo>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace corvidan::transport {

namespace {

CURL* handle(void* p) { return static_cast<CURL*>(p); }

/// A name for EHLO: the machine's host name when it is a plain DNS label list.
QByteArray heloName()
{
    const QByteArray name = QSysInfo::machineHostName().toLatin1();
    const bool plain = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '-';
    });
    return plain ? name : QByteArray("localhost");
}

/// The system's CA bundle with `extra` appended: a blob replaces curl's CA
/// file, so the extra certificates are trusted beside the system's.
QByteArray caBundleWith(CURL* curl, const QByteArray& extra)
{
    QByteArray bundle;
    char* systemBundle = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemBundle);
    if (systemBundle) {
        QFile system(QString::fromLocal8Bit(systemBundle));
        if (system.open(QIODevice::ReadOnly))
            bundle = system.readAll() + '\n';
    }
    return bundle + extra;
}

/// DNS and IP names of the server's certificate from curl's certificate info.
QStringList certificateNames(CURL* curl)
{
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return {};
    QStringList names;
    QString commonName;
    for (curl_slist* item = info->certinfo[0]; item; item = item->next) {
        const QString line = QString::fromUtf8(item->data);
        if (line.startsWith(QStringLiteral("X509v3 Subject Alternative Name:"))) {
            for (QString name : line.section(u':', 1).split(u',', Qt::SkipEmptyParts)) {
                name = name.trimmed();
                if (name.startsWith(QStringLiteral("DNS:")) || name.startsWith(QStringLiteral("IP Address:")))
                    names << name.section(u':', 1).trimmed();
            }
        } else if (line.startsWith(QStringLiteral("Subject:"))) {
            const qsizetype cn = line.indexOf(QStringLiteral("CN = "));
            if (cn >= 0)
                commonName = line.mid(cn + 5).section(u',', 0, 0).trimmed();
        }
    }
    if (names.isEmpty() && !commonName.isEmpty())
        names << commonName;
    return names;
}

bool startsWithCommand(const QByteArray& line, const char* verb)
{
    const auto n = static_cast<qsizetype>(std::strlen(verb));
    return line.size() >= n && qstrnicmp(line.constData(), verb, n) == 0
        && (line.size() == n || line[n] == ' ' || line[n] == '\r' || line[n] == ':');
}

QByteArray commandVerb(const QByteArray& line)
{
    for (const char* verb : {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "RSET", "QUIT", "NOOP"}) {
        if (startsWithCommand(line, verb))
            return verb;
    }
    return {};
}

/// What a 4xx/5xx reply refused, from the command it answered.
SmtpFailureKind kindFromReply(int code, const QByteArray& command)
{
    if (code == 530)
        return SmtpFailureKind::AuthRequired;
    if (code < 400)
        return SmtpFailureKind::Other;
    if (command == "MAIL")
        return SmtpFailureKind::SenderRejected;
    if (command == "RCPT")
        return SmtpFailureKind::RecipientRejected;
    if (command == "DATA")
        return SmtpFailureKind::DataRejected;
    if (command == "AUTH")
        return SmtpFailureKind::AuthFailed;
    return SmtpFailureKind::Other;
}

} // namespace

// ---- one transfer ----------------------------------------------------------

/// What one perform saw: the bytes being uploaded and the dialogue so far.
struct SmtpSession::Transfer {
    const QByteArray* message = nullptr;
    qsizetype offset = 0;
    QByteArray command;           // verb of the last command sent
    bool startTlsSent = false;
    QByteArray pendingReply;      // lines of a multi-line reply not yet complete
    QByteArray failedCommand;     // verb the last 4xx/5xx answered
    QByteArray failedReply;
    int failedCode = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    void serverSaid(const QByteArray& bytes)
    {
        pendingReply += bytes;
        qsizetype end;
        while ((end = pendingReply.indexOf('\n')) >= 0) {
            const QByteArray line = pendingReply.left(end).trimmed();
            pendingReply.remove(0, end + 1);
            lineReceived(line);
        }
    }

    void lineReceived(const QByteArray& line)
    {
        if (line.size() < 3)
            return;
        const int code = line.left(3).toInt();
        if (code < 400)
            return;
        // Keep every line of a multi-line refusal ("550-…", "550 …").
        if (!(inMultiLine && code == failedCode))
            failedReply.clear();
        failedReply += (failedReply.isEmpty() ? QByteArray() : QByteArray(" ")) + line;
        inMultiLine = line.size() > 3 && line[3] == '-';
        failedCode = code;
        failedCommand = command;
    }
    bool inMultiLine = false;

    static size_t read(char* buffer, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(size * count),
                                                self->message->size() - self->offset);
        std::memcpy(buffer, self->message->constData() + self->offset, static_cast<size_t>(n));
        self->offset += n;
        return static_cast<size_t>(n);
    }

    static int debug(CURL*, curl_infotype type, char* data, size_t size, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        const QByteArray bytes(data, static_cast<qsizetype>(size));
        if (type == CURLINFO_HEADER_IN) {
            self->serverSaid(bytes);
        } else if (type == CURLINFO_HEADER_OUT) {
            // Continuation lines of AUTH carry credentials: only note real verbs.
            if (const QByteArray verb = commandVerb(bytes); !verb.isEmpty()) {
                self->command = verb;
                self->startTlsSent = self->startTlsSent || verb == "STARTTLS";
            }
        }
        return 0;
    }
};

// ---- session ---------------------------------------------------------------

SmtpSession::SmtpSession(SmtpSettings settings) : m_settings(std::move(settings))
{
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curl = curl_easy_init();
    m_url = m_settings.endpoint.url(heloName());
    applySettings();
}

SmtpSession::~SmtpSession()
{
    if (m_curl)
        curl_easy_cleanup(handle(m_curl));
}

void SmtpSession::applySettings()
{
    CURL* curl = handle(m_curl);
    curl_easy_setopt(curl, CURLOPT_URL, m_url.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);
    const SmtpEndpoint& endpoint = m_settings.endpoint;
    const bool login = !m_settings.user.isEmpty();
    if (endpoint.plainAllowed)
        useTls(false, login);
    else
        useTls(endpoint.implicitTls || endpoint.requireStartTls || login || tlsSeenBefore(), login);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_settings.connectTimeoutMs));
    const long readSeconds = std::max(1L, static_cast<long>((m_settings.readTimeoutMs + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, readSeconds);
    // A stalled upload of a large attachment counts as a dead server too.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, readSeconds);
    QByteArray extra;
    if (!m_settings.caFile.isEmpty()) {
        QFile file(m_settings.caFile);
        if (file.open(QIODevice::ReadOnly))
            extra = file.readAll() + '\n';
    }
    const std::optional<QByteArray> own = ReadTrustedCertificates(m_settings.trustFile);
    m_trustUnreadable = !own;
    if (own)
        extra += *own;
    if (!extra.isEmpty()) {
        m_caBundle = caBundleWith(curl, extra);
        curl_blob blob{m_caBundle.data(), static_cast<size_t>(m_caBundle.size()), CURL_BLOB_NOCOPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    }
}

void SmtpSession::useTls(bool required, bool login)
{
    CURL* curl = handle(m_curl);
    const SmtpEndpoint& endpoint = m_settings.endpoint;
    const long mode = endpoint.plainAllowed || m_plainRelay ? CURLUSESSL_NONE
                      : required                          ? CURLUSESSL_ALL
                                                          : CURLUSESSL_TRY;
    curl_easy_setopt(curl, CURLOPT_USE_SSL, mode);
    curl_easy_setopt(curl, CURLOPT_USERNAME, login ? m_settings.user.toUtf8().constData() : nullptr);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, login ? m_settings.password.toUtf8().constData() : nullptr);
}

bool SmtpSession::tlsSeenBefore() const
{
    return TlsMemory(m_settings.tlsMemoryFile)
        .offeredBefore(MailProtocol::Smtp, m_settings.endpoint.host, m_settings.endpoint.port);
}

bool SmtpSession::send(const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
                       const QByteArray& message)
{
    m_failure = {};
    if (m_trustUnreadable) {
        m_failure.kind = SmtpFailureKind::TrustFileUnreadable;
        m_failure.detail = m_settings.trustFile;
        return false;
    }
    const SmtpEndpoint& endpoint = m_settings.endpoint;
    Transfer transfer;
    int code = perform(envelopeFrom, recipients, message, transfer);
    const bool mayFallBack = !endpoint.plainAllowed && !endpoint.implicitTls && !endpoint.requireStartTls && !m_plainRelay;
    if (code == CURLE_USE_SSL_FAILED && mayFallBack) {
        if (tlsSeenBefore()) {
            classify(code, transfer);
            m_failure.kind = SmtpFailureKind::TlsDowngrade;
            return false;
        }
        // No STARTTLS here: a relay that wants no login still takes the message
        // in clear, but the account never goes out.
        m_plainRelay = true;
        useTls(false, false);
        Transfer plain;
        code = perform(envelopeFrom, recipients, message, plain);
        classify(code, plain);
        if (m_failure.kind == SmtpFailureKind::AuthRequired && !m_settings.user.isEmpty())
            m_failure.kind = SmtpFailureKind::LoginNeedsTls;
        return code == CURLE_OK;
    }
    classify(code, transfer);
    if (code == CURLE_OK && (endpoint.implicitTls || transfer.startTlsSent))
        TlsMemory(m_settings.tlsMemoryFile).remember(MailProtocol::Smtp, endpoint.host, endpoint.port);
    return code == CURLE_OK;
}

int SmtpSession::perform(const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
                         const QByteArray& message, Transfer& transfer)
{
    CURL* curl = handle(m_curl);
    transfer.message = &message;

    const QByteArray from = '<' + envelopeFrom + '>';
    curl_slist* rcpt = nullptr;
    for (const QByteArray& recipient : recipients)
        rcpt = curl_slist_append(rcpt, ('<' + recipient + '>').constData());

    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Transfer::read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Transfer::debug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transfer);

    const CURLcode code = curl_easy_perform(curl);

    // Nothing may point at this frame's data once it returns.
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(curl, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, nullptr);
    curl_slist_free_all(rcpt);
    return code;
}

void SmtpSession::classify(int curlCode, const Transfer& transfer)
{
    m_failure = {};
    const auto code = static_cast<CURLcode>(curlCode);
    if (code == CURLE_OK)
        return;
    m_failure.serverReply = QString::fromUtf8(transfer.failedReply);
    m_failure.detail = QString::fromUtf8(transfer.errorBuffer[0] ? transfer.errorBuffer : curl_easy_strerror(code));
    curl_off_t connectTime = 0;
    curl_easy_getinfo(handle(m_curl), CURLINFO_CONNECT_TIME_T, &connectTime);
    m_failure.connected = connectTime > 0;

    SmtpFailureKind kind = SmtpFailureKind::Other;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: kind = SmtpFailureKind::Resolve; break;
    case CURLE_COULDNT_CONNECT: kind = SmtpFailureKind::Connect; break;
    case CURLE_OPERATION_TIMEDOUT: kind = SmtpFailureKind::Timeout; break;
    case CURLE_PEER_FAILED_VERIFICATION:
        kind = SmtpFailureKind::Certificate;
        m_failure.certificateNames = certificateNames(handle(m_curl));
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED: kind = SmtpFailureKind::Tls; break;
    case CURLE_USE_SSL_FAILED: kind = SmtpFailureKind::StartTlsUnavailable; break;
    case CURLE_LOGIN_DENIED: kind = SmtpFailureKind::AuthFailed; break;
    default:
        kind = kindFromReply(transfer.failedCode, transfer.failedCommand);
        if (kind == SmtpFailureKind::Other
            && (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING))
            kind = SmtpFailureKind::ConnectionLost;
        break;
    }
    m_failure.kind = kind;
}

} // namespace corvidan::transport
