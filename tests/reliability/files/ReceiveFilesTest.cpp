// The receive when its files cannot be written: no data folder, a read-only one,
// a disk that fills up, a file size limit. Each run ends with one Japanese box;
// a message leaves the server only once its whole record is in the history, and
// the history never keeps a torn record.

#include "BadFiles.h"
#include "storage/HistoryFile.h"
#include "support/TempAppDir.h"
#include "transport/SeenUids.h"

#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/resource.h>

using namespace corvidan;
using namespace corvidan::test::badfiles;
using transport::ReceiveEnd;
using transport::ReceiveOutcome;
using Message = corvidan::test::ScriptedMailbox::Message;

namespace {

class ReceiveBadFiles : public ::testing::Test {
protected:
    QString history() const { return dir.path(common::paths::ReceivedHistory); }
    QString dataDir() const { return dir.path(common::paths::DataDir); }

    /// The history holds `tag`-1 … `tag`-`count`, stored by the program.
    void storeEarlier(const QString& tag, int count)
    {
        storage::HistoryFile file(dir.appDir(), storage::HistoryKind::Received);
        for (int i = 1; i <= count; ++i)
            ASSERT_TRUE(file.AppendRecord(numberedMail(tag, i)));
    }

    ReceiveOutcome receive(test::ScriptedMailbox& server)
    {
        const int before = server.connects;
        host = RecordingHost();
        const ReceiveOutcome out = transport::ReceiveMail(dir.appDir(), {kServer, 0}, server, host);
        connects = server.connects - before;
        return out;
    }

    /// One box, Japanese, holding `reason`.
    void expectOneBox(const QString& reason, const QString& title = QStringLiteral("エラー"))
    {
        ASSERT_EQ(host.boxes.size(), 1u);
        std::cout << "  [" << host.boxes[0].title.toStdString() << "] "
                  << host.boxes[0].text.toStdString() << '\n';
        EXPECT_EQ(host.boxes[0].title, title);
        EXPECT_TRUE(host.boxes[0].text.contains(reason)) << host.boxes[0].text.toStdString();
        EXPECT_TRUE(isJapanese(host.boxes[0].text));
        EXPECT_EQ(host.resultLine, QStringLiteral("新着メール無し。"));
    }

    /// Every message is in the history once, after the earlier records, or still on the server.
    void expectNothingLost(const std::vector<Message>& all, const test::ScriptedMailbox& server,
                           const QStringList& earlier)
    {
        qint64 torn = -1;
        const QStringList subjects = historySubjects(history(), &torn);
        EXPECT_EQ(torn, 0) << "a torn record in the history";
        ASSERT_GE(subjects.size(), earlier.size());
        EXPECT_EQ(subjects.mid(0, earlier.size()), earlier);
        const QStringList stored = subjects.mid(earlier.size());
        for (const Message& m : all) {
            const bool waiting = std::any_of(server.box.begin(), server.box.end(),
                                             [&](const Message& s) { return s.uid == m.uid; });
            EXPECT_EQ(stored.count(subjectOf(m)) + (waiting ? 1 : 0), 1)
                << subjectOf(m).toStdString() << (waiting ? " stored and still waiting" : " lost");
        }
    }

    test::TempAppDir dir{false};
    RecordingHost host;
    int connects = 0;
};

} // namespace

TEST_F(ReceiveBadFiles, MissingDataFolderIsReportedBeforeTheServerIsAsked)
{
    ASSERT_TRUE(QDir(dataDir()).removeRecursively());
    test::ScriptedMailbox server = mailbox(QStringLiteral("MD"), 3);
    const ReceiveOutcome out = receive(server);
    EXPECT_EQ(out.end, ReceiveEnd::NoDataFolder);
    EXPECT_FALSE(host.accountRequested) << "an account that could not be saved was asked for";
    expectOneBox(QStringLiteral("★MAilData"));
    EXPECT_EQ(connects, 0);
    EXPECT_EQ(server.box.size(), 3u);
    EXPECT_FALSE(QFileInfo::exists(dataDir())) << "the folder is the user's to restore";

    // Put back, the folder and its account let the receive finish.
    ASSERT_TRUE(QDir().mkpath(dataDir()));
    dir.write(common::paths::AccountFile, accountFile());
    const std::vector<Message> all = server.box;
    EXPECT_EQ(receive(server).stored, 3);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(server.box.empty());
    expectNothingLost(all, server, {});
}

TEST_F(ReceiveBadFiles, ReadOnlyDataFolderKeepsEveryMessageOnTheServer)
{
    dir.write(common::paths::AccountFile, accountFile());
    storeEarlier(QStringLiteral("RO"), 2);
    const QByteArray before = readFile(history());
    test::ScriptedMailbox server = mailbox(QStringLiteral("RO-new"), 3);
    const std::vector<Message> all = server.box;
    {
        ReadOnlyFolder readOnly(dataDir());
        if (!readOnly.active())
            GTEST_SKIP() << "cannot make a folder read-only here: " << readOnly.why().toStdString();
        const ReceiveOutcome out = receive(server);
        EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
        EXPECT_EQ(out.stored, 0);
        expectOneBox(QStringLiteral("保存できませんでした"), QString());
        EXPECT_EQ(server.box.size(), 3u) << "a message left the server without its record";
    }
    EXPECT_EQ(readFile(history()), before);

    const ReceiveOutcome again = receive(server);
    EXPECT_EQ(again.stored, 3);
    EXPECT_TRUE(host.boxes.empty());
    expectNothingLost(
        all, server, {QStringLiteral("会議のご案内 [RO-1]"), QStringLiteral("会議のご案内 [RO-2]")});
}

TEST_F(ReceiveBadFiles, FullDiskStoresWhatFitsAndLeavesTheRestOnTheServer)
{
    dir.write(common::paths::AccountFile, accountFile());
    const QByteArray account = readFile(dir.path(common::paths::AccountFile));
    SmallDisk disk(dataDir(), 1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "no small disk here: " << disk.why().toStdString();
    writeFile(dir.path(common::paths::AccountFile), account);
    storeEarlier(QStringLiteral("FD"), 2);
    const QStringList earlier = historySubjects(history());

    // Room for the three small originals (one page each), one more record (eight
    // pages) and the remembered-id file, not for a second record.
    constexpr qint64 kPage = 4096;
    ASSERT_TRUE(disk.leaveFree(12 * kPage));
    test::ScriptedMailbox server = mailbox(QStringLiteral("FD-new"), 3);
    const std::vector<Message> all = server.box;
    const ReceiveOutcome out = receive(server);
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_EQ(out.stored, 1);
    ASSERT_EQ(host.boxes.size(), 1u);
    std::cout << "  [" << host.boxes[0].title.toStdString() << "] "
              << host.boxes[0].text.toStdString() << '\n';
    EXPECT_TRUE(host.boxes[0].text.contains(QStringLiteral("ディスクの空き容量が足りません")))
        << host.boxes[0].text.toStdString();
    EXPECT_EQ(host.resultLine, QStringLiteral("1の新着メール有り。"));
    EXPECT_EQ(server.box.size(), 2u);
    expectNothingLost(all, server, earlier);

    // A disk with no room at all: nothing more is stored, nothing deleted.
    ASSERT_TRUE(disk.leaveFree(0));
    EXPECT_EQ(receive(server).stored, 0);
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(server.box.size(), 2u);
    expectNothingLost(all, server, earlier);

    // Room made, the next receive stores the rest once each.
    disk.makeRoom();
    EXPECT_EQ(receive(server).stored, 2);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(server.box.empty());
    expectNothingLost(all, server, earlier);
    EXPECT_EQ(historySubjects(history()).size(), 5);
}

TEST_F(ReceiveBadFiles, AWriteCutShortLeavesNoTornRecord)
{
    // A file size limit cuts the second record's write short, as a full disk would,
    // without needing a disk of its own.
    dir.write(common::paths::AccountFile, accountFile());
    storeEarlier(QStringLiteral("CS"), 1);
    const QStringList earlier = historySubjects(history());
    test::ScriptedMailbox server = mailbox(QStringLiteral("CS-new"), 3);
    const std::vector<Message> all = server.box;

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit cut = old;
    cut.rlim_cur = static_cast<rlim_t>(storage::MailRecord::Size * 5 / 2);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
    const ReceiveOutcome out = receive(server);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_EQ(out.stored, 1);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_TRUE(host.boxes[0].text.contains(QStringLiteral("保存できませんでした")));
    EXPECT_EQ(server.box.size(), 2u);
    expectNothingLost(all, server, earlier);
    EXPECT_EQ(QFileInfo(history()).size(), 2 * storage::MailRecord::Size);

    EXPECT_EQ(receive(server).stored, 2);
    expectNothingLost(all, server, earlier);
}
