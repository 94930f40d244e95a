// corvidan-receive [--ca-file FILE] DIR: the receive of the launcher's "受信"
// without any window, for scripts and benchmarks. Prints the result line; exit
// status 0 when the run completed (whatever the number of messages), 1 when it
// stopped on an error, 2 on wrong usage. --ca-file trusts one more certificate
// authority (a private server's own). SIGTERM or SIGINT ends it within a few
// seconds, deleting nothing it has not stored; a second one ends it at once.
// corvidan-receive --check [--ca-file FILE] DIR: the connection check of the
// settings hub; prints its report, exit status 0 when it found a settings line
// for both servers, 1 otherwise.
// corvidan-receive --rebuild DIR: decodes every kept original again into a fresh
// received history (the old one kept beside it); prints the counts, exit status 0
// when the history was replaced, 1 otherwise.

#include "common/AppDir.h"
#include "storage/Originals.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "transport/ConnectionCheck.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"
#include "transport/Rebuild.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <csignal>
#include <cstdio>

using namespace corvidan;

namespace {

volatile std::sig_atomic_t g_stopAsked = 0;

void askToStop(int signal)
{
    // A second signal means now.
    if (g_stopAsked) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    g_stopAsked = 1;
}

void printLine(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

/// Messages go to standard error; nothing waits for an answer.
class ConsoleHost final : public transport::ReceiveHost {
public:
    void setStatusLine(const QString&) override {}
    void setResultLine(const QString&) override {}
    void showNewMailPicture(const QString&) override {}
    void setAccount(const QString&, const QString&) override {}
    void requestAccount() override
    {
        printLine(stderr, QStringLiteral("ID・パスワードが設定されていません（★MailData\\iniIdPass.ini の NAME と NAME2）。"));
        m_reported = true;
    }
    void messageBox(const QString& text, const QString& title) override
    {
        printLine(stderr, (title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text);
        m_reported = true;
    }
    void showMessage(const transport::ReceivedMessage&) override {}
    void setCurrentRecordNo(std::int16_t) override {}
    void setReceivedRecord(const storage::MailRecord&) override {}
    void progress(int, int) override {}
    // An interrupt stops after the message being stored, so nothing is half done.
    bool cancelRequested() override { return g_stopAsked != 0; }

    bool reported() const { return m_reported; }

private:
    bool m_reported = false;
};

int runCheck(const common::AppDir& appDir, const QString& caFile)
{
    storage::ServerSettings server;
    storage::ReadServerSettings(appDir.path(common::paths::ServerSettings), server);
    transport::CheckRequest request;
    request.pop3Server = server.Pop3Server;
    request.smtpServer = server.SmtpServer;
    request.apop = server.ApopFlag != 0;
    request.user = storage::ReadAccountValue(appDir, QStringLiteral("NAME"));
    request.password = storage::ReadAccountValue(appDir, QStringLiteral("NAME2"));
    request.options.caFile = caFile;
    request.options.useDataFolder(appDir);
    const transport::CheckReport report = transport::RunConnectionCheck(request);
    printLine(stdout, report.text());
    return report.pop3Line.isEmpty() || report.smtpLine.isEmpty() ? 1 : 0;
}

int runRebuild(const common::AppDir& appDir)
{
    (void)storage::CollectOrphanedOriginals(appDir);
    const transport::RebuildReport report = transport::RebuildReceivedHistory(appDir);
    printLine(stdout, QStringLiteral("着信履歴 %1件: 原文から作り直し %2件（うち変更 %3件）、原文なし %4件")
                          .arg(report.records)
                          .arg(report.redecoded)
                          .arg(report.changed)
                          .arg(report.withoutOriginal));
    if (!report.status) {
        printLine(stderr, report.status.detail());
        return 1;
    }
    printLine(stdout, QStringLiteral("元の着信履歴: ") + report.backupPath);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool check = !args.isEmpty() && args[0] == QStringLiteral("--check");
    const bool rebuild = !args.isEmpty() && args[0] == QStringLiteral("--rebuild");
    if (check || rebuild)
        args.removeFirst();
    QString caFile;
    if (args.size() == 3 && args[0] == QStringLiteral("--ca-file")) {
        caFile = args[1];
        args = args.mid(2);
    }
    if (args.size() != 1 || (rebuild && !caFile.isEmpty())) {
        printLine(stderr, QStringLiteral("usage: corvidan-receive [--check] [--ca-file FILE] APPDIR\n"
                                         "       corvidan-receive --rebuild APPDIR"));
        return 2;
    }
    const common::AppDir appDir(args[0]);
    if (!QFileInfo(appDir.root()).isDir()) {
        printLine(stderr, appDir.root() + QStringLiteral(": フォルダがありません。"));
        return 2;
    }
    if (check)
        return runCheck(appDir, caFile);
    if (rebuild)
        return runRebuild(appDir);
    std::signal(SIGINT, askToStop);
    std::signal(SIGTERM, askToStop);

    storage::ServerSettings server;
    storage::ReadServerSettings(appDir.path(common::paths::ServerSettings), server);
    transport::NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    mail.options().caFile = caFile;
    mail.options().maxMessageBytes = transport::ReadMaxMessageBytes(appDir, mail.options().maxMessageBytes);
    // Waits on the server end within a slice of a second of a signal; a message
    // arriving then stays on the server, with no QUIT to apply any deletion.
    mail.options().cancelled = [] { return g_stopAsked != 0; };
    mail.options().useDataFolder(appDir);
    transport::NMailMailbox client(mail);
    ConsoleHost host;
    const transport::ReceiveOutcome outcome =
        transport::ReceiveMail(appDir, {server.Pop3Server, server.ApopFlag}, client, host);
    mail.NMailEndWinSock();

    printLine(stdout, outcome.resultLine);
    if (outcome.completed())
        return 0;
    if (!host.reported()) {
        QString why = outcome.errorText;
        if (outcome.end == transport::ReceiveEnd::NoConnection)
            why = server.Pop3Server + QStringLiteral(" に接続できません。") + why;
        printLine(stderr, why);
    }
    return 1;
}
