#pragma once

#include "transport/NetError.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <optional>

class QSslSocket;

namespace corvidan::common {
class AppDir;
}

namespace corvidan::transport {

struct NMailOptions;

namespace paths {
/// PEM certificates the user trusts beside the system's (a private server's own).
inline constexpr char16_t TrustedCertificates[] = u"\\★MAilData\\trusted-certificates.pem";
/// The servers seen speaking TLS, one per line.
inline constexpr char16_t TlsMemory[] = u"\\★MAilData\\tls-servers.txt";
} // namespace paths

/// Which servers have been seen offering TLS, so that a later session where
/// one does not is refused instead of going on in clear. An empty path keeps
/// nothing.
class TlsMemory {
public:
    explicit TlsMemory(QString path) : m_path(std::move(path)) {}

    bool offeredBefore(MailProtocol protocol, const QString& host, int port) const;
    /// Written at once and durably; a failed write only loses the memory.
    void remember(MailProtocol protocol, const QString& host, int port) const;

private:
    QString m_path;
};

/// The PEM certificates of `path`: nothing when the file does not exist,
/// std::nullopt when it exists but holds no readable certificate.
std::optional<QByteArray> ReadTrustedCertificates(const QString& path);

/// The system's trust store with the test CA file and the user's own
/// certificates added, peers always verified; std::nullopt (and `error` set)
/// when one of the files cannot be used.
std::optional<QSslConfiguration> TrustConfiguration(const NMailOptions& options, NetError& error);

/// Why the TLS handshake of `socket` failed, into `error` (kind, names, expiry, detail).
void DescribeHandshakeFailure(const QSslSocket& socket, bool timedOut, NetError& error);

/// The DNS and IP names a certificate was issued for, else its common name.
QStringList CertificateNames(const QSslCertificate& certificate);

} // namespace corvidan::transport
