// Crash torture of the receive: corvidan-receive fetches a mailbox of Japanese
// mail from the real Dovecot and dies by SIGKILL at random instants; clean runs
// in between finish the job. Nothing may be lost, stored twice or torn.

#include "JapaneseMail.h"
#include "Torture.h"

#include "storage/MailRecord.h"
#include "support/Servers.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <gtest/gtest.h>
#include <iostream>
#include <random>

using namespace corvidan;
using namespace corvidan::test::torture;
using corvidan::test::Pop3TestServer;

namespace {

constexpr int kMessagesPerRound = 30;
const QString kTagPattern = QStringLiteral("TQ\\d{4}-\\d{2}");

class ReceiveTorture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.isValid())
            GTEST_SKIP() << "no Dovecot (fixture dovecot not running)";
        server.clearMailbox();
        dir.write(u"\\zorbet.ini",
                  (QStringLiteral("SMTP=\r\nPOP3=") + server.server() + QStringLiteral("\r\nMAIL=\r\nAPOP=0\r\n")).toUtf8());
        dir.write(u"\\★MailData\\iniIdPass.ini",
                  (QStringLiteral("[EXEINI]\r\nNAME=") + server.user + QStringLiteral("\r\nNAME2=") +
                   server.password + QStringLiteral("\r\n")).toUtf8());
        log = dir.root() + QStringLiteral("/receive.log");
    }

    void TearDown() override
    {
        if (HasFailure() && QFile::exists(log))
            std::cerr << "last lines of corvidan-receive's output:\n"
                      << readAll(log).right(2000).toStdString() << '\n';
    }

    void loadRound(int round)
    {
        for (int i = 1; i <= kMessagesPerRound; ++i) {
            const QString tag = QStringLiteral("TQ%1-%2").arg(round, 4, 10, QChar(u'0')).arg(i, 2, 10, QChar(u'0'));
            JapaneseMail mail = makeJapaneseMail(tag, round * kMessagesPerRound + i);
            server.addMessage(mail.bytes);
            expected.insert(tag, mail);
        }
    }

    pid_t startReceive()
    {
        const QString program = qEnvironmentVariable("CORVIDAN_APPDIR") + QStringLiteral("/corvidan-receive");
        return spawn(program, {QStringLiteral("--ca-file"), server.caFile, dir.root()}, log);
    }

    int cleanReceive()
    {
        const pid_t pid = startReceive();
        return pid < 0 ? -999 : waitFor(pid);
    }

    /// What must hold after any kill: whole records are sound and no message is
    /// stored twice; only the end of the file may be torn (the next append overwrites it).
    void expectSoundHistory(const HistoryScan& scan)
    {
        EXPECT_TRUE(scan.problems.isEmpty()) << scan.problems.join(u'\n').toStdString();
        QMap<QString, int> seen;
        for (int i = 0; i < scan.subjects.size(); ++i) {
            const int n = scan.first + i;
            EXPECT_EQ(scan.live[i], 1) << "record " << n;
            const QStringList tags = markersIn(scan.subjects[i], kTagPattern);
            ASSERT_EQ(tags.size(), 1) << "record " << n << ": " << scan.subjects[i].toStdString();
            EXPECT_TRUE(scan.bodies[i].contains(QStringLiteral("[") + tags[0] + u']'))
                << "record " << n << " has another message's body";
            ++seen[tags[0]];
        }
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            EXPECT_EQ(it.value(), 1) << it.key().toStdString() << " stored " << it.value() << " times";
    }

    /// Every attachment is in the folder whole; nothing else but the scratch file is.
    void expectAttachments()
    {
        const QString folder = dir.path(u"\\添付フォルダ");
        QMap<QString, QByteArray> contentByName;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            contentByName.insert(name, readAll(folder + u'/' + name));
        for (const JapaneseMail& mail : std::as_const(expected)) {
            if (mail.attachmentName.isEmpty())
                continue;
            const QString stem = mail.attachmentName.chopped(4);
            int whole = 0;
            for (auto it = contentByName.cbegin(); it != contentByName.cend(); ++it) {
                if (!it.key().startsWith(stem))
                    continue;
                EXPECT_EQ(it.value(), mail.attachment) << "torn attachment file " << it.key().toStdString();
                whole += it.value() == mail.attachment;
            }
            EXPECT_GE(whole, 1) << "attachment of " << mail.tag.toStdString() << " missing";
        }
        for (const QString& name : contentByName.keys())
            EXPECT_TRUE(name.startsWith(QStringLiteral("見積書-")) || name == QStringLiteral("0.txt"))
                << "stray file in the attachment folder: " << name.toStdString();
    }

    /// The final check: every message of `expected` stored once, whole, with its attachment.
    void verifyEverything(const QString& historyPath)
    {
        const HistoryScan scan = scanHistory(historyPath);
        EXPECT_EQ(scan.tornTailBytes, 0);
        expectSoundHistory(scan);
        EXPECT_EQ(scan.records, expected.size());
        QStringList stored;
        for (const QString& subject : scan.subjects)
            stored += markersIn(subject, kTagPattern);
        for (const QString& tag : expected.keys())
            EXPECT_TRUE(stored.contains(tag)) << tag.toStdString() << " lost";
        expectAttachments();
        EXPECT_EQ(server.messageCount(), 0);
        EXPECT_FALSE(QFile::exists(dir.path(u"\\★MAilData\\received-uids.txt")))
            << "ids kept although every deletion was confirmed";
    }

    /// Starts over with an empty history, so long runs stay within the record limit.
    void startNewEpoch(const QString& historyPath)
    {
        verifyEverything(historyPath);
        QFile::remove(historyPath);
        QDir(dir.path(u"\\添付フォルダ")).removeRecursively();
        QDir().mkpath(dir.path(u"\\添付フォルダ"));
        verified += expected.size();
        expected.clear();
    }

    Pop3TestServer server = Pop3TestServer::load();
    test::TempAppDir dir;
    QString log;
    QMap<QString, JapaneseMail> expected;
    qsizetype verified = 0;
};

} // namespace

TEST_F(ReceiveTorture, KilledAtRandomInstantsEveryMessageEndsUpStoredExactlyOnce)
{
    const QString historyPath = dir.path(u"\\★MAilData\\zrbdata2.data");

    // Round 0 undisturbed: it proves the setup and times a whole run.
    loadRound(0);
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(cleanReceive(), 0);
    const qint64 wholeRunUs = std::max<qint64>(clock.nsecsElapsed() / 1000, 20000);
    ASSERT_EQ(scanHistory(historyPath).records, kMessagesPerRound);

    Budget budget(/*ciIterations=*/400, /*ciSeconds=*/35);
    std::mt19937 rng(static_cast<unsigned>(qEnvironmentVariableIntValue("CORVIDAN_TORTURE_SEED")) ^ 20261208u);
    std::uniform_int_distribution<qint64> delay(0, wholeRunUs * 11 / 10);
    int kills = 0;
    int finishedBeforeKill = 0;
    int cleanRuns = 1;
    for (int round = 1; budget.more(kills); ++round) {
        // Earlier rounds' messages are gone from the server: only this round's can double.
        if (round % 40 == 0)
            startNewEpoch(historyPath);
        const int roundStart = scanHistory(historyPath, std::max(1, int(expected.size()))).records + 1;
        loadRound(round);
        for (int inRound = 0; inRound < 10 && budget.more(kills); ++inRound) {
            const pid_t pid = startReceive();
            ASSERT_GT(pid, 0);
            if (killAfter(pid, delay(rng)))
                ++kills;
            else
                ++finishedBeforeKill;
            expectSoundHistory(scanHistory(historyPath, roundStart));
            ASSERT_FALSE(HasFailure()) << "after kill " << kills;
            if (rng() % 4 == 0)
                break; // now and then a clean run finishes the round
        }
        ASSERT_EQ(cleanReceive(), 0) << "round " << round;
        ++cleanRuns;
        ASSERT_EQ(server.messageCount(), 0) << "round " << round;
    }

    verifyEverything(historyPath);

    RecordProperty("kills", kills);
    verified += expected.size();
    RecordProperty("messages", static_cast<int>(verified));
    std::cout << "receive torture: " << kills << " kills survived (" << finishedBeforeKill
              << " runs finished before their kill, " << cleanRuns << " clean runs), "
              << verified << " messages stored exactly once; whole run "
              << wholeRunUs / 1000 << " ms" << (budget.longMode() ? " [long mode]" : "") << '\n';
}
