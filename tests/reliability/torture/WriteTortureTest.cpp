// Crash torture of the program's other writes: deletion with compaction (through
// the history viewer, and the address book file), the palette's save on close,
// and the settings files. A child process (corvidan-torture-child) loops over the
// write and is killed by SIGKILL at random instants; after every kill the files
// must read as a whole old or a whole new state.

#include "Torture.h"

#include "common/FixedField.h"
#include "emoticons/PaletteFiles.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "support/TempAppDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <thread>

using namespace corvidan;
using namespace corvidan::test::torture;

namespace {

QString childProgram()
{
    return qEnvironmentVariable("CORVIDAN_BUILD_DIR") + QStringLiteral("/tests/corvidan-torture-child");
}

/// One fixed-record file: how to find a record's marker and live flag.
struct RecordLayout {
    int size;
    int liveOffset;
    int lineEndOffset;
    std::function<QString(const char*)> label;
};

/// A record file that starts as `initial` and loses its "[DEL-…]" records one by
/// one, in file order. After any kill it must hold the records of some step of
/// that sequence, byte for byte, whole; the record being deleted may be marked.
class DeletionSequence {
public:
    DeletionSequence(RecordLayout layout, QByteArray initial) : m_layout(std::move(layout)), m_initial(std::move(initial))
    {
        for (qsizetype at = 0; at < m_initial.size(); at += m_layout.size) {
            const QByteArray rec = m_initial.mid(at, m_layout.size);
            m_labels << m_layout.label(rec.constData());
            m_records.insert(m_labels.back(), withoutLive(rec));
        }
    }

    /// How many deletions the file shows as done, or -1 with a failure recorded.
    int stepOf(const QByteArray& bytes) const
    {
        EXPECT_EQ(bytes.size() % m_layout.size, 0) << "torn record file";
        QStringList labels;
        int marked = 0;
        for (qsizetype at = 0; at + m_layout.size <= bytes.size(); at += m_layout.size) {
            const QByteArray rec = bytes.mid(at, m_layout.size);
            const QString label = m_layout.label(rec.constData());
            EXPECT_EQ(rec.mid(m_layout.lineEndOffset, 2), QByteArray("\r\n")) << label.toStdString();
            EXPECT_EQ(withoutLive(rec), m_records.value(label)) << "record " << label.toStdString() << " changed";
            const short live = common::readInt16LE(rec.constData() + m_layout.liveOffset);
            EXPECT_TRUE(live == 0 || live == 1) << label.toStdString();
            if (live == 0) {
                ++marked;
                EXPECT_TRUE(label.startsWith(QStringLiteral("DEL"))) << label.toStdString() << " marked";
            }
            labels << label;
        }
        EXPECT_LE(marked, 1) << "more than the record being deleted is marked";
        QStringList expected = m_labels;
        for (int step = 0;; ++step) {
            if (labels == expected)
                return step;
            const qsizetype next = expected.indexOf(QRegularExpression(QStringLiteral("DEL-\\d+")));
            if (next < 0)
                break;
            expected.removeAt(next);
        }
        ADD_FAILURE() << "neither the old nor the new records: " << labels.join(u' ').toStdString();
        return -1;
    }

    int deletions() const { return static_cast<int>(m_labels.filter(QRegularExpression(QStringLiteral("^DEL"))).size()); }

private:
    QByteArray withoutLive(QByteArray rec) const
    {
        rec[m_layout.liveOffset] = rec[m_layout.liveOffset + 1] = 0;
        return rec;
    }

    RecordLayout m_layout;
    QByteArray m_initial;
    QStringList m_labels;
    QHash<QString, QByteArray> m_records;
};

QString labelIn(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("\\[((?:DEL|KEEP)-\\d+)\\]"));
    return re.match(text).captured(1);
}

class WriteTorture : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "child output:\n" << readAll(log).right(2000).toStdString() << '\n';
    }

    /// Runs the child once without a kill; its duration in microseconds.
    qint64 timeUndisturbed(const QStringList& args)
    {
        QElapsedTimer clock;
        clock.start();
        const pid_t pid = spawn(childProgram(), args, log);
        EXPECT_GT(pid, 0);
        EXPECT_EQ(waitFor(pid), 0);
        return std::max<qint64>(clock.nsecsElapsed() / 1000, 1000);
    }

    /// Kills runs of the deleting child until `budget` ends; after each kill the
    /// file must be at a step of `sequence`. Returns the kills survived.
    int tortureDeletion(const QString& mode, const QString& path, const DeletionSequence& sequence,
                        const QByteArray& initial, const std::function<void()>& recover)
    {
        const auto reset = [&](const QByteArray& bytes) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(bytes);
        };
        // Kills aim at the deletions rather than at the child's start-up.
        reset({});
        const qint64 startUs = timeUndisturbed({mode, dir.root()});
        reset(initial);
        const qint64 wholeUs = timeUndisturbed({mode, dir.root()});
        EXPECT_EQ(sequence.stepOf(readAll(path)), sequence.deletions());

        Budget budget(/*ciIterations=*/150, /*ciSeconds=*/6);
        std::uniform_int_distribution<qint64> delay(startUs * 3 / 4, std::max(wholeUs, startUs));
        int kills = 0;
        while (budget.more(kills) && !HasFailure()) {
            reset(initial);
            int lastStep = 0;
            for (bool finished = false; !finished && !HasFailure();) {
                const pid_t pid = spawn(childProgram(), {mode, dir.root()}, log);
                finished = !killAfter(pid, delay(rng));
                kills += !finished;
                recover(); // what the program's next use of the file does first
                const int step = sequence.stepOf(readAll(path));
                EXPECT_GE(step, lastStep) << "a deletion came undone";
                lastStep = step;
            }
            EXPECT_EQ(lastStep, sequence.deletions());
        }
        return kills;
    }

    test::TempAppDir dir;
    QString log = dir.root() + QStringLiteral("/child.log");
    std::mt19937 rng{static_cast<unsigned>(qEnvironmentVariableIntValue("CORVIDAN_TORTURE_SEED")) ^ 8122026u};
};

} // namespace

TEST_F(WriteTorture, ViewerDeletionAlwaysLeavesTheOldOrTheNewRecords)
{
    storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    for (int i = 1; i <= 24; ++i) {
        storage::MailRecord r;
        const QString label = (i % 3 == 0 ? QStringLiteral("KEEP-%1") : QStringLiteral("DEL-%1")).arg(i);
        r.Subject = QStringLiteral("打ち合わせの件 [%1]").arg(label);
        r.Address = QStringLiteral("山田 花子 <hanako%1@example.co.jp>").arg(i);
        r.Date = QStringLiteral("Tue, 08 Dec 2026 09:%1:00 +0900").arg(10 + i);
        r.Body = QStringLiteral("いつもお世話になっております。[%1]\r\n").arg(label).repeated(200 + i * 40);
        ASSERT_TRUE(history.AppendRecord(r));
    }
    const QByteArray initial = readAll(history.path());
    const DeletionSequence sequence({storage::MailRecord::Size, storage::MailRecord::LiveOffset,
                                     storage::MailRecord::LineEndOffset,
                                     [](const char* rec) { return labelIn(storage::MailRecord::fromBytes(rec).Subject); }},
                                    initial);
    const int kills = tortureDeletion(QStringLiteral("viewer-delete"), history.path(), sequence, initial,
                                      [&] { ASSERT_TRUE(history.RecoverInterruptedCompaction()); });
    RecordProperty("kills", kills);
    std::cout << "viewer deletion torture: " << kills << " kills survived\n";
}

TEST_F(WriteTorture, AddressBookDeletionAlwaysLeavesTheOldOrTheNewRecords)
{
    storage::AddressBookFile book = storage::AddressBookFile::addressBook(dir.appDir());
    for (int i = 1; i <= 40; ++i) {
        storage::AddressRecord r;
        const QString label = (i % 2 == 0 ? QStringLiteral("KEEP-%1") : QStringLiteral("DEL-%1")).arg(i);
        r.Name = QStringLiteral("佐藤 一郎 [%1]").arg(label);
        r.Address = QStringLiteral("ichiro%1@example.jp").arg(i);
        ASSERT_TRUE(book.AppendRecord(r));
    }
    const QByteArray initial = readAll(book.path());
    const DeletionSequence sequence({storage::AddressRecord::Size, storage::AddressRecord::LiveOffset,
                                     storage::AddressRecord::LineEndOffset,
                                     [](const char* rec) { return labelIn(storage::AddressRecord::fromBytes(rec).Name); }},
                                    initial);
    const int kills = tortureDeletion(QStringLiteral("addressbook-delete"), book.path(), sequence, initial,
                                      [&] { ASSERT_TRUE(book.RecoverInterruptedCompaction()); });
    RecordProperty("kills", kills);
    std::cout << "address book deletion torture: " << kills << " kills survived\n";
}

TEST_F(WriteTorture, PaletteFilesHoldTheirOldOrNewTextAfterAKilledClose)
{
    // Each close writes every page back with one more line end: the content is
    // always the delivered text followed by some number of CR LF.
    QList<QByteArray> original;
    for (int page = 0; page < emoticons::PageCount; ++page) {
        original << readAll(emoticons::palettePath(dir.appDir(), page));
        ASSERT_FALSE(original.back().isEmpty()) << "delivered palette file " << page << " is empty";
    }
    const qint64 tenClosesUs = timeUndisturbed({QStringLiteral("palette"), dir.root(), QStringLiteral("10")});
    QList<int> closes(emoticons::PageCount, 10);
    const auto closesIn = [&](int page) {
        const QByteArray now = readAll(emoticons::palettePath(dir.appDir(), page));
        if (!now.startsWith(original[page]))
            return -1;
        const QByteArray added = now.mid(original[page].size());
        return added == QByteArray("\r\n").repeated(added.size() / 2) ? int(added.size() / 2) : -1;
    };

    Budget budget(/*ciIterations=*/80, /*ciSeconds=*/6);
    std::uniform_int_distribution<qint64> delay(0, tenClosesUs);
    int kills = 0;
    while (budget.more(kills) && !HasFailure()) {
        const pid_t pid = spawn(childProgram(), {QStringLiteral("palette"), dir.root(), QStringLiteral("1000")}, log);
        kills += killAfter(pid, delay(rng));
        for (int page = 0; page < emoticons::PageCount; ++page) {
            const int now = closesIn(page);
            ASSERT_GE(now, closes[page]) << "page " << page << " is neither its old nor its new text after kill " << kills;
            closes[page] = now;
        }
    }
    RecordProperty("kills", kills);
    std::cout << "palette torture: " << kills << " kills survived, first page closed " << closes[0] << " times\n";
}

TEST_F(WriteTorture, SettingsFilesHoldAWholeGenerationAfterAKilledWrite)
{
    const QString ini = dir.path(u"\\zorbet.ini");
    const QString account = dir.path(u"\\★MailData\\iniIdPass.ini");
    // Another section the account writes must keep.
    ASSERT_TRUE(storage::WriteProfileString(account, QStringLiteral("OTHER"), QStringLiteral("KEY"), QStringLiteral("値")));
    const auto generationOf = [](const QString& text, const QString& pattern) {
        const QRegularExpressionMatch m = QRegularExpression(pattern).match(text);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    };
    const auto iniFor = [](int g) {
        storage::ServerSettings s;
        s.SmtpServer = QStringLiteral("smtp-%1.example.jp").arg(g);
        s.Pop3Server = QStringLiteral("pop-%1.example.jp").arg(g);
        s.MailAddress = QStringLiteral("太郎%1@example.jp").arg(g);
        s.ApopFlag = static_cast<std::int16_t>(g % 2);
        return s;
    };

    Budget budget(/*ciIterations=*/150, /*ciSeconds=*/5);
    std::uniform_int_distribution<qint64> delay(0, 150000);
    int kills = 0;
    int lastIni = 0, lastName = 0;
    while (budget.more(kills) && !HasFailure()) {
        const pid_t pid = spawn(childProgram(), {QStringLiteral("settings"), dir.root(), QString::number(lastIni + 1)}, log);
        kills += killAfter(pid, delay(rng));

        storage::ServerSettings read;
        storage::ReadServerSettings(ini, read);
        const int g = generationOf(read.SmtpServer, QStringLiteral("^smtp-(\\d+)\\.example\\.jp$"));
        if (QFile::exists(ini)) {
            const storage::ServerSettings want = iniFor(g);
            EXPECT_TRUE(read.Pop3Server == want.Pop3Server && read.MailAddress == want.MailAddress &&
                        read.ApopFlag == want.ApopFlag)
                << "zorbet.ini mixes generations: " << readAll(ini).toStdString();
            EXPECT_TRUE(readAll(ini).endsWith("\r\n"));
        }
        const int name = generationOf(storage::ReadAccountValue(dir.appDir(), QStringLiteral("NAME")), QStringLiteral("^id-(\\d+)$"));
        const int name2 = generationOf(storage::ReadAccountValue(dir.appDir(), QStringLiteral("NAME2")), QStringLiteral("^pw-(\\d+)$"));
        // Written in the order zorbet.ini, NAME, NAME2: none is ever ahead of the one before.
        EXPECT_TRUE(name2 <= name && name <= g) << "zorbet.ini " << g << ", NAME " << name << ", NAME2 " << name2;
        EXPECT_EQ(storage::ReadProfileString(account, QStringLiteral("OTHER"), QStringLiteral("KEY")), QStringLiteral("値"));
        EXPECT_GE(g, lastIni);
        EXPECT_GE(name, lastName);
        lastIni = g;
        lastName = name;
    }
    EXPECT_GT(lastIni, 0) << "no write ever finished";
    RecordProperty("kills", kills);
    std::cout << "settings torture: " << kills << " kills survived, " << lastIni << " generations written\n";
}

TEST_F(WriteTorture, AppendsFromAnotherProcessSurviveDeletionsAndCompactions)
{
    // Two writers at once, as when corvidan-receive runs while the viewer deletes:
    // one child appends, another deletes through the viewer, and this process
    // compacts in between. Every record reported as stored must be there once.
    storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    for (int i = 1; i <= 40; ++i) {
        storage::MailRecord r;
        const QString label = (i % 2 == 0 ? QStringLiteral("KEEP-%1") : QStringLiteral("DEL-%1")).arg(i);
        r.Subject = QStringLiteral("打ち合わせの件 [%1]").arg(label);
        r.Address = QStringLiteral("山田 花子 <hanako%1@example.co.jp>").arg(i);
        r.Body = QStringLiteral("いつもお世話になっております。[%1]\r\n").arg(label).repeated(100 + i * 10);
        ASSERT_TRUE(history.AppendRecord(r));
    }
    const int appends = qEnvironmentVariableIsSet("CORVIDAN_TORTURE_ITERATIONS") ? 2000 : 200;
    const QString appendLog = dir.root() + QStringLiteral("/append.log");
    const pid_t appender = spawn(childProgram(), {QStringLiteral("append"), dir.root(), QString::number(appends)}, appendLog);
    const pid_t deleter = spawn(childProgram(), {QStringLiteral("viewer-delete"), dir.root()}, log);
    ASSERT_GT(appender, 0);
    ASSERT_GT(deleter, 0);

    int compactions = 0;
    int failedCompactions = 0;
    int appenderExit = -1000;
    while (appenderExit == -1000) {
        failedCompactions += !history.CompactHistory();
        ++compactions;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        int status = 0;
        if (::waitpid(appender, &status, WNOHANG) == appender)
            appenderExit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    EXPECT_EQ(failedCompactions, 0);
    EXPECT_EQ(appenderExit, 0) << readAll(appendLog).right(2000).toStdString();
    EXPECT_EQ(waitFor(deleter), 0) << readAll(log).right(2000).toStdString();

    QList<int> stored;
    for (const QString& line : QString::fromUtf8(readAll(appendLog)).split(u'\n'))
        if (line.startsWith(QStringLiteral("stored ")))
            stored << line.mid(7).toInt();
    EXPECT_EQ(stored.size(), appends);

    const HistoryScan scan = scanHistory(history.path());
    EXPECT_EQ(scan.tornTailBytes, 0);
    EXPECT_TRUE(scan.problems.isEmpty()) << scan.problems.join(u'\n').toStdString();
    QStringList labels;
    for (int i = 0; i < scan.subjects.size(); ++i) {
        labels << labelIn(scan.subjects[i]);
        // Whole records only: the body belongs to the subject it is stored with.
        const QStringList own = markersIn(scan.subjects[i], QStringLiteral("(?:APP|KEEP|DEL)-\\d+"));
        const QStringList inBody = markersIn(scan.bodies[i], QStringLiteral("(?:APP|KEEP|DEL)-\\d+"));
        EXPECT_TRUE(own.size() == 1 && !inBody.isEmpty() && inBody.count(own[0]) == inBody.size())
            << "record " << i + 1 << " mixes " << scan.subjects[i].toStdString();
        EXPECT_EQ(scan.live[i], 1) << "record " << i + 1 << " left marked";
    }
    QStringList want;
    for (int i = 2; i <= 40; i += 2)
        want << QStringLiteral("KEEP-%1").arg(i);
    EXPECT_EQ(labels.filter(QStringLiteral("KEEP-")), want);
    EXPECT_TRUE(labels.filter(QStringLiteral("DEL-")).isEmpty()) << labels.join(u' ').toStdString();
    // In the order they were stored, each once.
    QStringList appended;
    for (const QString& subject : scan.subjects)
        if (const QString label = QRegularExpression(QStringLiteral("\\[(APP-\\d+)\\]")).match(subject).captured(1); !label.isEmpty())
            appended << label;
    QStringList reported;
    for (int i : stored)
        reported << QStringLiteral("APP-%1").arg(i);
    EXPECT_EQ(appended.join(u' ').toStdString(), reported.join(u' ').toStdString())
        << appended.size() << " of " << reported.size() << " stored records are in the history";
    std::cout << "two writers: " << appends << " appends, " << compactions
              << " compactions here and 20 deletions through the viewer\n";
}
