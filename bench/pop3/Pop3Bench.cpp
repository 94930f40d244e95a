// Fetches and deletes every message of a mailbox with the calls the receive
// makes: connect, authenticate, then per message status, size, whole message
// and delete, then close. Exit status 0 only when all of it worked.
#include "transport/NMail.h"

#include <QCoreApplication>
#include <cstdio>

using corvidan::transport::NMail;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6 && args.size() != 7) {
        std::fprintf(stderr, "usage: pop3-bench SERVER USER PASSWORD CA_FILE EXPECTED_COUNT [WINDOW_BYTES]\n");
        return 2;
    }
    NMail mail;
    mail.options().caFile = args[4];
    if (args.size() == 7)
        mail.options().pipelineWindowBytes = args[6].toLongLong();
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    const auto failed = [&](const char* step) {
        std::fprintf(stderr, "pop3-bench: %s failed: %s\n", step, qPrintable(mail.lastError()));
        return 1;
    };
    const int handle = mail.NMailPop3Connect(args[1]);
    if (handle == -1)
        return failed("connect");
    const int count = mail.NMailPop3Authenticate(handle, args[2], args[3], 0);
    if (count != args[5].toInt())
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
    mail.NMailEndWinSock();
    std::fprintf(stderr, "pop3-bench: %d messages, %lld body characters\n", count, static_cast<long long>(characters));
    return 0;
}
