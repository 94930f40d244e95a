#include "compose/SendMail.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/RecordingSender.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

using namespace corvidan;
using compose::SendInput;
using compose::SendMailOperation;

namespace {

class RecordingObserver final : public compose::SendObserver {
public:
    void status(const QString& text) override { statuses << text; }
    void progress(int i, int n) override { progress_.push_back({i, n}); }
    void bodyChanged(const QString& body) override { bodies << body; }
    void recordWritten(std::int16_t n, const storage::MailRecord&) override { written.push_back(n); }
    void sendFailed(const QString& text) override { failures << text; }
    void recordFailed(const common::Status& status) override { recordErrors.push_back(status); }

    QStringList statuses, bodies, failures;
    std::vector<std::pair<int, int>> progress_;
    std::vector<std::int16_t> written;
    std::vector<common::Status> recordErrors;
};

struct SendFixture : ::testing::Test {
    test::TempAppDir tmp{false};
    common::AppDir dir = tmp.appDir();
    test::SendLog log;
    test::RecordingSender sender{log};
    /// What the sent history held as each message reached the sender.
    std::vector<int> recordsAtSend;
    RecordingObserver observer;

    SendFixture()
    {
        log.onSend = [this](const compose::OutgoingMail&) {
            recordsAtSend.push_back(storage::HistoryFile(dir, storage::HistoryKind::Sent).RecordCount());
        };
    }

    SendInput input(const QString& body = QStringLiteral("本文"))
    {
        SendInput in;
        in.smtpServer = QStringLiteral("smtp.example.jp");
        in.sender = QStringLiteral("me@example.jp");
        in.to = QStringLiteral("  you@example.jp ");
        in.subject = QStringLiteral(" 件名 ");
        in.body = body;
        in.clockText = [] { return QStringLiteral("2026/12/08  10:11:12"); };
        return in;
    }
    compose::SendOutcome run(SendInput& in)
    {
        SendMailOperation op(dir, sender, observer);
        return op.run(in);
    }
    std::vector<storage::MailRecord> sentRecords() const
    {
        std::vector<storage::MailRecord> records;
        (void)storage::HistoryFile(dir, storage::HistoryKind::Sent)
            .ReadAllRecords([&](int, const storage::MailRecord& r) {
                records.push_back(r);
                return true;
            });
        return records;
    }
    void addToBook(const QString& name, const QString& address)
    {
        storage::AddressRecord r;
        r.Name = name;
        r.Address = address;
        ASSERT_TRUE(storage::AddressBookFile::addressBook(dir).AppendRecord(r));
    }
};

} // namespace

TEST(Fortune, IndexRuleCoversOneToTwelveEvenly)
{
    EXPECT_EQ(compose::fortune::indexFor(0.0), 1);
    EXPECT_EQ(compose::fortune::indexFor(std::nextafter(1.0f, 0.0f)), 12);
    EXPECT_EQ(compose::fortune::indexFor(1.0 / 12), 2);
    EXPECT_EQ(compose::fortune::indexFor(std::nextafter(1.0 / 12, 0.0)), 1);
    EXPECT_EQ(compose::fortune::indexFor(0.5), 7);
    // Out-of-range draws never index past the table.
    EXPECT_EQ(compose::fortune::indexFor(1.0), 12);
    EXPECT_EQ(compose::fortune::indexFor(-0.1), 1);
}

TEST(Fortune, ClockDrawsStayBelowOneAndReachEveryText)
{
    std::array<int, 13> seen{};
    for (int i = 0; i < 2000; ++i) {
        const float r = compose::fortune::drawFromClock();
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
        ++seen.at(compose::fortune::indexFor(r));
    }
    for (int k = 1; k <= 12; ++k)
        EXPECT_GT(seen.at(k), 60) << "fortune " << k << " drawn too rarely";
}

TEST(Fortune, TextsAndBlockKeepTheirExactBlanksAndGrades)
{
    using compose::fortune::Header;
    using compose::fortune::Texts;
    EXPECT_EQ(Header.count(QChar(0x3000)), 2);
    EXPECT_EQ(Header.count(u' '), 1);
    EXPECT_TRUE(Header.startsWith(QStringLiteral("★★★　この占いは アトランダム")));
    EXPECT_TRUE(Texts[7].endsWith(QChar(0x3000)));
    int daikichi = 0, chukichi = 0, kichi = 0, kyo = 0;
    for (int k = 1; k <= 12; ++k) {
        daikichi += Texts[k].startsWith(QStringLiteral("大吉："));
        chukichi += Texts[k].startsWith(QStringLiteral("中吉："));
        kichi += Texts[k].startsWith(QStringLiteral("吉："));
        kyo += Texts[k].startsWith(QStringLiteral("凶："));
    }
    EXPECT_EQ(daikichi, 3);
    EXPECT_EQ(chukichi, 5);
    EXPECT_EQ(kichi, 2);
    EXPECT_EQ(kyo, 2);
    const QString expected = QStringLiteral("\r\n\r\n") + Header + QStringLiteral("\r\n\r\n") + Texts[12];
    EXPECT_EQ(compose::fortune::block(12), expected);
}

TEST(TrimBlanks, RemovesAsciiBlanksOnly)
{
    EXPECT_EQ(compose::trimBlanks(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    EXPECT_EQ(compose::trimBlanks(QStringLiteral("\u3000a\r\n")), QStringLiteral("\u3000a\r\n"));
    EXPECT_EQ(compose::trimTrailingBlanks(QStringLiteral(" a  ")), QStringLiteral(" a"));
    EXPECT_EQ(compose::trimBlanks(QStringLiteral("   ")), QString());
}

TEST_F(SendFixture, SingleSendWritesTrimmedRecordBeforeTheCall)
{
    SendInput in = input(QStringLiteral(" abc \r\n"));
    in.fortune = false;
    const auto outcome = run(in);
    EXPECT_EQ(outcome.sent, 1);
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(recordsAtSend.front(), 1) << "record must exist before the library call";
    // The library gets the boxes untrimmed.
    EXPECT_EQ(log.sent[0].to, QStringLiteral("  you@example.jp "));
    EXPECT_EQ(log.sent[0].subject, QStringLiteral(" 件名 "));
    EXPECT_EQ(log.sent[0].body, QStringLiteral(" abc \r\n"));
    EXPECT_EQ(log.sent[0].from, QStringLiteral("me@example.jp"));
    EXPECT_EQ(log.sent[0].server, QStringLiteral("smtp.example.jp"));
    const auto records = sentRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(compose::trimBlanks(records[0].Subject), QStringLiteral("件名"));
    EXPECT_EQ(compose::trimBlanks(records[0].Address), QStringLiteral("you@example.jp"));
    EXPECT_EQ(compose::trimBlanks(records[0].Date), QStringLiteral("2026/12/08  10:11:12"));
    EXPECT_EQ(compose::trimBlanks(records[0].Body), QStringLiteral("abc \r\n"));
    EXPECT_EQ(observer.written, std::vector<std::int16_t>{1});
    EXPECT_EQ(observer.statuses.front(), SendMailOperation::sendingText());
    // The bytes handed over are kept as the record's original.
    const storage::HistoryFile sent(dir, storage::HistoryKind::Sent);
    EXPECT_EQ(sent.originals()->Load(*sent.ReadRecordBytes(1)), test::RecordingSender::bytesOf(log.sent[0]));
}

TEST_F(SendFixture, AMessageWhoseOriginalCannotBeKeptStaysAndAWithdrawnRecordTakesItsOriginal)
{
    const storage::Originals originals(dir, storage::HistoryKind::Sent);
    // Refused by the server after it was kept: record and original both go.
    log.failWith(QStringLiteral("554 rejected"));
    SendInput refused = input();
    run(refused);
    EXPECT_TRUE(sentRecords().empty());
    EXPECT_EQ(originals.TotalBytes(), 0);
    EXPECT_TRUE(QDir(originals.folder()).entryList(QDir::Files).isEmpty());

    // Nowhere to keep it: nothing leaves, and the user is told why.
    log.result = 0;
    ASSERT_TRUE(QDir(originals.folder()).removeRecursively());
    QFile blocker(originals.folder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder belongs
    blocker.close();
    SendInput unkept = input();
    const auto outcome = run(unkept);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(log.sent.size(), 1u) << "only the refused message reached the sender";
    ASSERT_EQ(observer.failures.size(), 2);
    EXPECT_TRUE(observer.failures[1].startsWith(compose::keptFailureText(common::Status::fail(common::ErrorCode::Io))))
        << observer.failures[1].toStdString();
    EXPECT_TRUE(sentRecords().empty());
}

TEST_F(SendFixture, FortuneGoesIntoTheMessageButNotTheRecord)
{
    SendInput in = input(QStringLiteral("abc"));
    in.fortune = true;
    in.random = [] { return std::nextafter(1.0f, 0.0f); };
    run(in);
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(log.sent[0].body, QStringLiteral("abc") + compose::fortune::block(12));
    EXPECT_EQ(compose::trimBlanks(sentRecords().at(0).Body), QStringLiteral("abc"));
    EXPECT_EQ(observer.bodies, QStringList{log.sent[0].body});

    SendInput first = input(QStringLiteral("abc"));
    first.fortune = true;
    first.random = [] { return 0.0f; };
    run(first);
    EXPECT_TRUE(log.sent.back().body.endsWith(compose::fortune::Texts[1]));
}

TEST_F(SendFixture, BulkSendsInListOrderWithGrowingFortunes)
{
    addToBook(QStringLiteral("一"), QStringLiteral("one@example.jp   "));
    addToBook(QStringLiteral("二"), QStringLiteral("二郎<two@example.jp>"));
    addToBook(QStringLiteral("三"), QStringLiteral("three@example.jp"));
    SendInput in = input(QStringLiteral("abc"));
    in.bulk = true;
    in.fortune = true;
    in.listRecordNo = {3, 1, 2};
    in.random = [] { return 0.0f; };
    const auto outcome = run(in);
    EXPECT_EQ(outcome.passes, 3);
    ASSERT_EQ(log.sent.size(), 3u);
    EXPECT_EQ(log.sent[0].to, QStringLiteral("three@example.jp"));
    EXPECT_EQ(log.sent[1].to, QStringLiteral("one@example.jp"));
    EXPECT_EQ(log.sent[2].to, QStringLiteral("二郎<two@example.jp>"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.sent[i].body.count(compose::fortune::Header), i + 1);
        EXPECT_EQ(recordsAtSend[i], i + 1);
    }
    EXPECT_EQ(log.batches, std::vector<int>{3});
    const auto records = sentRecords();
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(compose::trimBlanks(records[i].Address), QStringLiteral("you@example.jp"));
        // Each record is written from the body box before this pass's block is added.
        EXPECT_TRUE(records[i].Body.startsWith(QStringLiteral("abc")));
        EXPECT_EQ(records[i].Body.count(compose::fortune::Header), i);
    }
    EXPECT_EQ(observer.progress_, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
}

TEST_F(SendFixture, BulkWithEmptyListSendsAndRecordsNothing)
{
    SendInput in = input();
    in.bulk = true;
    const auto outcome = run(in);
    EXPECT_EQ(outcome.passes, 0);
    EXPECT_TRUE(log.sent.empty());
    EXPECT_TRUE(sentRecords().empty());
}

TEST_F(SendFixture, LibraryFailureIsReportedAndTheNextPassStillRuns)
{
    addToBook(QStringLiteral("a"), QStringLiteral("a@example.jp"));
    addToBook(QStringLiteral("b"), QStringLiteral("b@example.jp"));
    log.failWith(QStringLiteral("550 User unknown"));
    SendInput in = input();
    in.bulk = true;
    in.listRecordNo = {1, 2};
    const auto outcome = run(in);
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_EQ(observer.failures,
              (QStringList{QStringLiteral("550 User unknown"), QStringLiteral("550 User unknown")}));
    EXPECT_EQ(sentRecords().size(), 2u);
    ASSERT_EQ(outcome.failures.size(), 2u);
    EXPECT_EQ(outcome.failures[1].recipient, QStringLiteral("b@example.jp"));
    EXPECT_EQ(outcome.failures[1].reason, QStringLiteral("550 User unknown"));
    EXPECT_TRUE(bulkSummaryText(outcome).startsWith(QStringLiteral("0件送信しました。")));
}

TEST_F(SendFixture, UnreadableAttachmentFailsThePassNamingTheFile)
{
    const QString good = tmp.root() + QStringLiteral("/a.txt");
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    const QString missing = tmp.root() + QStringLiteral("/消えた.pdf");
    SendInput in = input();
    in.attachments = good + u',' + missing;
    const auto outcome = run(in);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(log.sent.empty());
    ASSERT_EQ(observer.failures.size(), 1);
    EXPECT_TRUE(observer.failures[0].contains(missing));
    EXPECT_TRUE(sentRecords().empty()) << "a single message that did not leave is not recorded";

    SendInput ok = input();
    ok.attachments = good + u',' + good;
    run(ok);
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(sentRecords().size(), 1u);
    EXPECT_EQ(log.sent[0].attachments, good + u',' + good);
}

TEST_F(SendFixture, UnwritableHistoryStopsBeforeAnythingIsSent)
{
    // A folder where the history file should be makes every write fail.
    ASSERT_TRUE(QDir().mkpath(tmp.path(common::paths::SentHistory)));
    SendInput in = input();
    const auto outcome = run(in);
    EXPECT_TRUE(outcome.aborted);
    EXPECT_TRUE(log.sent.empty());
    ASSERT_EQ(observer.recordErrors.size(), 1u);
    EXPECT_FALSE(observer.recordErrors[0].isOk());
}

TEST_F(SendFixture, FullHistoryRefusesInsteadOfWrapping)
{
    QFile history(tmp.path(common::paths::SentHistory));
    ASSERT_TRUE(history.open(QIODevice::WriteOnly));
    ASSERT_TRUE(history.resize(qint64(32767) * storage::MailRecord::Size));
    history.close();
    SendInput in = input();
    const auto outcome = run(in);
    EXPECT_TRUE(outcome.aborted);
    EXPECT_TRUE(log.sent.empty());
    ASSERT_EQ(observer.recordErrors.size(), 1u);
    EXPECT_EQ(observer.recordErrors[0].code(), common::ErrorCode::TooManyRecords);
}
