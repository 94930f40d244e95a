// The receive killed at every call it makes, one run per call: whatever the
// instant, the next receive leaves each message in the history exactly once.

#include "Torture.h"

#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/ScriptedMailbox.h"
#include "support/TempAppDir.h"
#include "transport/ReceiveMail.h"
#include "transport/SeenUids.h"

#include <QDir>
#include <QSet>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvidan;
using namespace corvidan::transport;

namespace {

const QString kServer = QStringLiteral("pop.example.jp");

using Message = test::ScriptedMailbox::Message;

/// Every call of the receive (library or host) passes `step`, where a test can end the process.
struct Steps {
    std::function<void()> onStep;
    int count = 0;
    void step()
    {
        ++count;
        if (onStep)
            onStep();
    }
};

std::vector<Message> mailbox(int count)
{
    std::vector<Message> box;
    for (int i = 1; i <= count; ++i)
        box.push_back({QStringLiteral("UID%1").arg(i),
                       test::ScriptedMailbox::text(QStringLiteral("お知らせ [KP-%1]").arg(i),
                                                   QStringLiteral("本文です。\r\n受付番号 [KP-%1]\r\n").arg(i),
                                                   QStringLiteral("山田 花子 <hanako@example.co.jp>"))});
    return box;
}

struct ReceiveRun {
    test::TempAppDir dir;
    ReceiveRun()
    {
        dir.write(u"\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    }
    /// Where a killed child leaves the ids its confirmed close kept on the server.
    QString serverState() const { return dir.root() + QStringLiteral("/server-kept.txt"); }

    ReceiveOutcome receive(std::vector<Message>& box, Steps& steps, bool recordServerState = false)
    {
        test::ScriptedMailbox mail;
        mail.box = box;
        mail.onStep = [&] { steps.step(); };
        if (recordServerState)
            mail.onApplied = [this](const std::vector<Message>& kept) {
                QStringList uids;
                for (const Message& m : kept)
                    uids << m.uid;
                dir.write(u"\\server-kept.txt", uids.join(u'\n').toUtf8() + '\n');
            };
        test::RecordingReceiveHost host;
        host.onStep = [&] { steps.step(); };
        const ReceiveOutcome out = ReceiveMail(dir.appDir(), {kServer, 0}, mail, host);
        box = mail.box;
        return out;
    }
    /// The originals are exactly those of the records (no orphan, none missing),
    /// each the bytes of its message.
    void expectEachRecordHasItsOriginalAndNothingElse(const std::vector<Message>& sent) const
    {
        const storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
        QSet<QByteArray> messages;
        for (const Message& m : sent)
            messages.insert(m.bytes);
        QStringList named;
        for (int n = 1; n <= history.RecordCount(); ++n) {
            const QByteArray record = *history.ReadRecordBytes(n);
            named << storage::Originals::keyOf(record);
            const std::optional<QByteArray> original = history.originals()->Load(record);
            EXPECT_TRUE(original && messages.contains(*original)) << "record " << n;
        }
        named.sort();
        named.removeDuplicates();
        EXPECT_EQ(history.originals()->Keys(), named);
        EXPECT_TRUE(QDir(history.originals()->folder()).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty());
    }
    test::torture::HistoryScan history() const
    {
        return test::torture::scanHistory(dir.path(u"\\★MAilData\\zrbdata2.data"));
    }
};

} // namespace

TEST(ReceiveKilledAtEveryCall, TheNextReceiveStoresEachMessageExactlyOnce)
{
    constexpr int kMessages = 3;
    int steps = 0;
    {
        ReceiveRun counting;
        std::vector<Message> box = mailbox(kMessages);
        Steps s;
        ASSERT_TRUE(counting.receive(box, s).completed());
        steps = s.count;
        ASSERT_EQ(counting.history().records, kMessages);
    }
    ASSERT_GT(steps, 8 * kMessages);

    for (int killAt = 1; killAt <= steps; ++killAt) {
        SCOPED_TRACE(killAt);
        ReceiveRun run;
        std::vector<Message> box = mailbox(kMessages);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Steps s;
            s.onStep = [&] {
                if (s.count == killAt)
                    ::raise(SIGKILL);
            };
            std::vector<Message> childBox = box;
            run.receive(childBox, s, true);
            ::_exit(0);
        }
        ASSERT_EQ(test::torture::waitFor(pid), -SIGKILL);
        // Deletions the child's close applied before it died are the server's.
        const test::torture::HistoryScan before = run.history();
        Steps quiet;
        std::vector<Message> again;
        const QByteArray kept = test::torture::readAll(run.serverState());
        for (const Message& m : box)
            if (kept.isNull() || kept.split('\n').contains(m.uid.toLatin1()))
                again.push_back(m);
        const ReceiveOutcome out = run.receive(again, quiet);
        EXPECT_TRUE(out.completed());
        EXPECT_TRUE(again.empty());

        const test::torture::HistoryScan scan = run.history();
        EXPECT_EQ(scan.tornTailBytes, 0);
        EXPECT_TRUE(scan.problems.isEmpty());
        ASSERT_EQ(scan.records, kMessages) << "kept " << before.records << " before the clean run";
        for (int i = 1; i <= kMessages; ++i)
            EXPECT_EQ(test::torture::markersIn(scan.subjects.join(u'\n'), QStringLiteral("KP-%1").arg(i)).size(), 1)
                << "message " << i;
        run.expectEachRecordHasItsOriginalAndNothingElse(box);
    }
}

TEST(ReceiveKilledAtEveryCall, AnAnnouncedRecordThatNeverReachedTheFileIsStoredNextTime)
{
    ReceiveRun run;
    SeenUids ahead(SeenUids::pathIn(run.dir.appDir()), kServer, QStringLiteral("taro"));
    ASSERT_TRUE(ahead.load());
    // Killed between the announcement and the write: record 1 does not exist.
    ASSERT_TRUE(ahead.intend(QStringLiteral("UID1"), 1, QByteArray(20, 'x'), QByteArray(20, 'y')));
    std::vector<Message> box = mailbox(2);
    Steps s;
    const ReceiveOutcome out = run.receive(box, s);
    EXPECT_EQ(out.stored, 2);
    EXPECT_EQ(out.duplicates, 0);
    EXPECT_EQ(run.history().records, 2);
    EXPECT_TRUE(box.empty());
}
