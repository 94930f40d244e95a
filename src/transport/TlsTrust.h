#pragma once

#include "transport/NetError.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvidan::common {
class AppDir;
}

namespace corvidan::transport {

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

} // namespace corvidan::transport
