#include "transport/TlsTrust.h"

#include "common/AppDir.h"
#include "common/Durable.h"
#include "transport/NMail.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslSocket>

namespace corvidan::transport {

namespace {

QByteArray key(MailProtocol protocol, const QString& host, int port)
{
    return (protocol == MailProtocol::Pop3 ? "pop3 " : "smtp ") + host.toLower().toUtf8() + ' '
           + QByteArray::number(port);
}

QList<QByteArray> lines(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    // A few lines per server the user ever had; anything larger is not ours.
    const QByteArray data = file.read(1 << 20);
    QList<QByteArray> out;
    for (const QByteArray& line : data.split('\n')) {
        if (!line.trimmed().isEmpty())
            out << line.trimmed();
    }
    return out;
}

} // namespace

bool TlsMemory::offeredBefore(MailProtocol protocol, const QString& host, int port) const
{
    return lines(m_path).contains(key(protocol, host, port));
}

void TlsMemory::remember(MailProtocol protocol, const QString& host, int port) const
{
    if (m_path.isEmpty())
        return;
    QList<QByteArray> known = lines(m_path);
    const QByteArray entry = key(protocol, host, port);
    if (known.contains(entry))
        return;
    known << entry;
    (void)common::durable::replaceFile(m_path, known.join('\n') + '\n');
}

std::optional<QByteArray> ReadTrustedCertificates(const QString& path)
{
    if (path.isEmpty() || !QFile::exists(path))
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray pem = file.read(16 << 20);
    if (QSslCertificate::fromData(pem, QSsl::Pem).isEmpty())
        return std::nullopt;
    return pem;
}

std::optional<QSslConfiguration> TrustConfiguration(const NMailOptions& options, NetError& error)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!options.caFile.isEmpty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(options.caFile);
        if (extra.isEmpty()) {
            error.kind = NetErrorKind::CaFileUnreadable;
            error.item = options.caFile;
            return std::nullopt;
        }
        config.addCaCertificates(extra);
    }
    const std::optional<QByteArray> own = ReadTrustedCertificates(options.trustedCertificatesFile);
    if (!own) {
        error.kind = NetErrorKind::TrustFileUnreadable;
        error.detail = options.trustedCertificatesFile;
        return std::nullopt;
    }
    if (!own->isEmpty())
        config.addCaCertificates(QSslCertificate::fromData(*own, QSsl::Pem));
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return config;
}

namespace {

/// A failed handshake without certificate errors: plain text where TLS was
/// expected shows as a record OpenSSL cannot read.
NetErrorKind tlsFailureKind(const QString& why)
{
    for (const char* sign : {"wrong version number", "packet length too long", "unknown protocol", "record layer failure"}) {
        if (why.contains(QLatin1String(sign), Qt::CaseInsensitive))
            return NetErrorKind::PlainWhereTlsExpected;
    }
    return NetErrorKind::TlsFailed;
}

QString sslErrorText(const QList<QSslError>& errors)
{
    QStringList texts;
    for (const QSslError& e : errors)
        texts << e.errorString();
    texts.removeDuplicates();
    return texts.join(QStringLiteral("; "));
}

} // namespace

QStringList CertificateNames(const QSslCertificate& certificate)
{
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        names << it.value();
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    names.removeDuplicates();
    return names;
}

void DescribeHandshakeFailure(const QSslSocket& socket, bool timedOut, NetError& error)
{
    const QList<QSslError> errors = socket.sslHandshakeErrors();
    if (errors.isEmpty()) {
        error.handshakeTimedOut = timedOut;
        error.detail = timedOut ? QString() : socket.errorString();
        error.kind = timedOut ? NetErrorKind::Timeout : tlsFailureKind(error.detail);
        return;
    }
    error.kind = NetErrorKind::TlsFailed;
    error.detail = sslErrorText(errors);
    const QSslCertificate peer = socket.peerCertificate();
    for (const QSslError& e : errors) {
        const QSslCertificate certificate = e.certificate().isNull() ? peer : e.certificate();
        switch (e.error()) {
        case QSslError::HostNameMismatch:
            error.kind = NetErrorKind::CertificateNameMismatch;
            error.certificateNames = CertificateNames(peer);
            return;
        case QSslError::CertificateExpired:
            error.kind = NetErrorKind::CertificateExpired;
            error.expiry = certificate.expiryDate().toString(QStringLiteral("yyyy-MM-dd"));
            return;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            error.kind = NetErrorKind::CertificateUntrusted;
            break;
        default:
            break;
        }
    }
}

// ---- the mail library's side -------------------------------------------------

void NMailOptions::useDataFolder(const common::AppDir& appDir)
{
    trustedCertificatesFile = appDir.path(paths::TrustedCertificates);
    tlsMemoryFile = appDir.path(paths::TlsMemory);
}

} // namespace corvidan::transport
