// bench_check STATE_DIR REPEAT: the connection check against the test servers of
// STATE_DIR (pop3.env, smtp.env), with SMTPS and port 25 mapped onto two ports
// that accept connections and never say a word. Prints connection_check_ms, the
// median of REPEAT runs.
#include "texts/CheckReportText.h"
#include "transport/ConnectionCheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace corvidan;

namespace {

QHash<QString, QString> readEnv(const QString& path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)).trimmed());
    }
    return values;
}

/// A listening socket whose connections wait in the backlog, never greeted.
int silentListener(quint16& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 64);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_check STATE_DIR REPEAT\n");
        return 2;
    }
    const QHash<QString, QString> pop3 = readEnv(args[1] + QStringLiteral("/pop3.env"));
    const QHash<QString, QString> smtp = readEnv(args[1] + QStringLiteral("/smtp.env"));
    quint16 silentA = 0, silentB = 0;
    const int fdA = silentListener(silentA);
    const int fdB = silentListener(silentB);

    transport::CheckRequest request;
    request.pop3Server = QStringLiteral("127.0.0.1");
    request.smtpServer = QStringLiteral("127.0.0.1");
    request.user = pop3.value(QStringLiteral("POP3_USER"));
    request.password = pop3.value(QStringLiteral("POP3_PASSWORD"));
    request.options.caFile = pop3.value(QStringLiteral("CA_FILE"));
    request.ports.pop3s = static_cast<quint16>(pop3.value(QStringLiteral("POP3S_PORT")).toUInt());
    request.ports.pop3 = static_cast<quint16>(pop3.value(QStringLiteral("POP3_PORT")).toUInt());
    request.ports.submission = static_cast<quint16>(smtp.value(QStringLiteral("SMTP_PORT")).toUInt());
    request.ports.smtps = silentA;
    request.ports.smtp = silentB;

    std::vector<double> times;
    transport::CheckReport report;
    for (int i = 0; i < std::max(1, args[2].toInt()); ++i) {
        QElapsedTimer timer;
        timer.start();
        report = transport::RunConnectionCheck(request);
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    ::close(fdA);
    ::close(fdB);
    std::fprintf(stderr, "%s\n", qPrintable(texts::CheckReportText(report)));
    if (report.pop3Line.isEmpty() || report.smtpLine.isEmpty()) {
        std::fprintf(stderr, "bench_check: the check found no settings line\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("connection_check_ms %.1f ms\n", times[times.size() / 2]);
    return 0;
}
