// Fetches and deletes every message of a mailbox, then closes. By default
// through the typed POP3 layer the receive builds on (open, authenticate, then
// per message fetch and remove, then quit); with --calls through the classic
// library calls the windows make (status, size, whole message, delete), which
// add header and body decoding. With --big it fetches the mailbox's messages
// without deleting them and prints the peak resident memory divided by the
// largest message's size. Exit status 0 only when all of it worked.
#include "texts/NetErrorText.h"
#include "transport/NMail.h"
#include "transport/Pop3Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

using corvidan::transport::FetchResult;
using corvidan::transport::FetchStatus;
using corvidan::transport::NMail;
using corvidan::transport::NMailOptions;
using corvidan::transport::Pop3Session;

namespace {

int classicCalls(const QStringList& args, NMail& mail)
{
    const auto failed = [&](const char* step) {
        std::fprintf(stderr, "pop3-bench: %s failed: %s\n", step, qPrintable(corvidan::texts::NetErrorText(mail.lastNetError())));
        return 1;
    };
    const int handle = mail.NMailPop3Connect(args[0]);
    if (handle == -1)
        return failed("connect");
    const int count = mail.NMailPop3Authenticate(handle, args[1], args[2], 0);
    if (count != args[4].toInt())
        return failed("authenticate");
    QString subject, date, from, header;
    qint64 characters = 0;
    for (int n = 1; n <= count; ++n) {
        mail.NMailPop3GetMailStatus(handle, n, subject, date, from, header, 0);
        const int size = mail.NMailPop3GetMailSize(handle, n);
        QString body(std::max(size, 0) + 1, u' ');
        if (size < 0 || mail.NMailPop3GetMail(handle, n, subject, date, from, header, body, 0, 0) < 0
            || subject.isEmpty() || body.isEmpty())
            return failed("fetch");
        characters += body.size();
        mail.NMailPop3DeleteMail(handle, n);
    }
    if (mail.NMailPop3Close(handle) != 0)
        return failed("close");
    std::fprintf(stderr, "pop3-bench: %d messages, %lld body characters\n", count, static_cast<long long>(characters));
    return 0;
}

int typedLayer(const QStringList& args, const NMailOptions& options, bool keep)
{
    QElapsedTimer clock;
    clock.start();
    Pop3Session session(options);
    const auto failed = [&](const char* step, const corvidan::transport::NetError& why) {
        std::fprintf(stderr, "pop3-bench: %s failed: %s\n", step, qPrintable(corvidan::texts::NetErrorText(why)));
        return 1;
    };
    if (!session.open(args[0]))
        return failed("open", session.netError());
    const qint64 opened = clock.elapsed();
    const int count = session.authenticate(args[1], args[2], false);
    if (count != args[4].toInt())
        return failed("authenticate", session.netError());
    const qint64 authenticated = clock.elapsed();
    qint64 octets = 0;
    qint64 largest = 0;
    for (int n = 1; n <= count; ++n) {
        FetchResult got = session.fetch(n);
        if (got.status != FetchStatus::Ok || got.bytes.indexOf("\r\n\r\n") < 0)
            return failed("fetch", got.error);
        octets += got.bytes.size();
        largest = std::max<qint64>(largest, got.bytes.size());
        got.bytes = QByteArray(); // as a caller that has stored it
        if (!keep)
            session.remove(n);
    }
    const qint64 fetched = clock.elapsed();
    if (!session.quit())
        return failed("quit", session.netError());
    std::fprintf(stderr, "pop3-bench: %d messages, %lld octets; ms to open %lld, login and list %lld, fetch %lld, quit %lld\n",
                 count, static_cast<long long>(octets), opened, authenticated - opened, fetched - authenticated,
                 clock.elapsed() - fetched);
    if (keep) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double peak = double(usage.ru_maxrss) * 1024.0;
        std::fprintf(stderr, "pop3-bench: peak resident %.1f MB for a %.1f MB message\n", peak / 1e6, largest / 1e6);
        std::printf("%.3f\n", largest > 0 ? peak / double(largest) : 0.0);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool calls = !args.isEmpty() && args[0] == QStringLiteral("--calls");
    const bool big = !args.isEmpty() && args[0] == QStringLiteral("--big");
    if (calls || big)
        args.removeFirst();
    if (args.size() != 5 && args.size() != 6) {
        std::fprintf(stderr,
                     "usage: pop3-bench [--calls|--big] SERVER USER PASSWORD CA_FILE EXPECTED_COUNT [WINDOW_BYTES]\n");
        return 2;
    }
    NMail mail;
    mail.options().caFile = args[3];
    if (args.size() == 6)
        mail.options().pipelineWindowBytes = args[5].toLongLong();
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    const int status = calls ? classicCalls(args, mail) : typedLayer(args, mail.options(), big);
    mail.NMailEndWinSock();
    return status;
}
