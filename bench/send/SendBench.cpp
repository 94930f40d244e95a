// One bulk send of the compose window's send operation: N address book entries,
// one message each, every pass writing its sent record durably first.
// usage: bench_send --server HOST:PORT --count N --appdir EMPTY_DIR
// Prints the seconds the operation took; fails unless every message was accepted.
#include "common/AppDir.h"
#include "compose/SendMail.h"
#include "storage/AddressBookFile.h"
#include "transport/NMail.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>
#include <cstdio>

using namespace corvidan;

namespace {

QString argument(const QStringList& args, const QString& name)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
}

QString benchBody()
{
    QString body = QStringLiteral("皆様\r\n\r\nいつもお世話になっております。\r\n");
    for (int i = 0; i < 12; ++i)
        body += QStringLiteral("今年も忘年会を開きます。日時と場所は追ってご連絡いたします。\r\n");
    return body + QStringLiteral("\r\n幹事 山田太郎");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    const QStringList args = qapp.arguments();
    const QString server = argument(args, QStringLiteral("--server"));
    const int count = argument(args, QStringLiteral("--count")).toInt();
    const QString root = argument(args, QStringLiteral("--appdir"));
    if (server.isEmpty() || count <= 0 || root.isEmpty()) {
        std::fprintf(stderr, "usage: bench_send --server HOST:PORT --count N --appdir DIR\n");
        return 2;
    }
    QDir().mkpath(root + QStringLiteral("/★MAilData"));
    const common::AppDir appDir(root);

    auto book = storage::AddressBookFile::addressBook(appDir);
    compose::SendInput input;
    for (int i = 1; i <= count; ++i) {
        storage::AddressRecord record;
        record.Name = QStringLiteral("宛先%1").arg(i);
        record.Address = QStringLiteral("bench-%1@example.jp").arg(i);
        if (!book.AppendRecord(record))
            return 1;
        input.listRecordNo.push_back(static_cast<std::int16_t>(i));
    }
    input.smtpServer = server;
    input.sender = QStringLiteral("sender@example.jp");
    input.to = QStringLiteral("一斉送信");
    input.subject = QStringLiteral("忘年会のお知らせ");
    input.body = benchBody();
    input.bulk = true;
    input.clockText = [] { return QStringLiteral("2026/12/08  10:00:00"); };

    transport::NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    compose::NMailSender sender(mail);
    compose::SendObserver quiet;
    compose::SendMailOperation operation(appDir, sender, quiet);

    QElapsedTimer timer;
    timer.start();
    const compose::SendOutcome outcome = operation.run(input);
    const double seconds = timer.nsecsElapsed() / 1e9;
    mail.NMailEndWinSock();

    if (outcome.sent != count) {
        std::fprintf(stderr, "bench_send: %d of %d messages accepted: %s\n", outcome.sent, count,
                     qPrintable(sender.lastError()));
        return 1;
    }
    QTextStream(stdout) << QString::number(seconds, 'f', 4) << '\n';
    return 0;
}
