#include "transport/TlsTrust.h"

#include "common/AppDir.h"
#include "common/Durable.h"
#include "transport/NMail.h"
#include "transport/NetErrorText.h"

#include <QFile>
#include <QSslCertificate>

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

} // namespace corvidan::transport

// ---- the mail library's side -------------------------------------------------

namespace corvidan::transport {

void NMailOptions::useDataFolder(const common::AppDir& appDir)
{
    trustedCertificatesFile = appDir.path(paths::TrustedCertificates);
    tlsMemoryFile = appDir.path(paths::TlsMemory);
}

void NMail::setLastError(const NetError& error)
{
    m_lastNetError = error;
    m_lastError = NetErrorText(error).left(BufferSize - 1);
}

} // namespace corvidan::transport
