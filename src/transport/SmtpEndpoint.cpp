#include "transport/SmtpClient.h"

// Kept apart from the transfer code: the connection check parses the SMTP setting
// too, and a program that only receives should not load libcurl for it.

namespace corvidan::transport {

namespace {

std::optional<int> parsePort(QStringView text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool isHostText(QStringView host)
{
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (c.unicode() <= 0x20 || c == u'/' || c == u'@' || c == u'?' || c == u'#')
            return false;
    }
    return true;
}

/// "host", "host:port", "[v6]", "[v6]:port" or a bare v6 address.
bool splitHostPort(QStringView text, QString& host, std::optional<QStringView>& port)
{
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return false;
        host = text.mid(1, close - 1).toString();
        const QStringView after = text.mid(close + 1);
        if (after.isEmpty())
            return true;
        if (!after.startsWith(u':'))
            return false;
        port = after.mid(1);
        return true;
    }
    if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        host = text.left(colon).toString();
        port = text.mid(colon + 1);
        return true;
    }
    host = text.toString();
    return true;
}

} // namespace

std::optional<SmtpEndpoint> SmtpEndpoint::parse(QStringView server)
{
    QStringView rest = server.trimmed();
    bool smtps = false;
    bool plain = false;
    if (rest.startsWith(u"smtps://", Qt::CaseInsensitive)) {
        smtps = true;
        rest = rest.mid(8);
    } else if (rest.startsWith(u"smtp+plain://", Qt::CaseInsensitive)) {
        plain = true;
        rest = rest.mid(13);
    } else if (rest.startsWith(u"smtp://", Qt::CaseInsensitive)) {
        rest = rest.mid(7);
    }
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0)
        rest = rest.left(slash);

    SmtpEndpoint endpoint;
    std::optional<QStringView> portText;
    if (!splitHostPort(rest, endpoint.host, portText) || !isHostText(endpoint.host))
        return std::nullopt;
    endpoint.port = smtps ? 465 : 25;
    if (portText) {
        const std::optional<int> port = parsePort(*portText);
        if (!port)
            return std::nullopt;
        endpoint.port = *port;
    }
    endpoint.plainAllowed = plain;
    endpoint.implicitTls = !plain && (smtps || endpoint.port == 465);
    endpoint.requireStartTls = !plain && !endpoint.implicitTls && endpoint.port == 587;
    return endpoint;
}

QByteArray SmtpEndpoint::url(const QByteArray& helo) const
{
    QByteArray hostPart = host.toUtf8();
    if (host.contains(u':'))
        hostPart = '[' + hostPart + ']';
    return (implicitTls ? "smtps://" : "smtp://") + hostPart + ':' + QByteArray::number(port) + '/' + helo;
}

} // namespace corvidan::transport
