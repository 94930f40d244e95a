#include "StorageTestUtil.h"
#include "storage/HistoryFile.h"
#include "support/TempAppDir.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvidan;
using storage::CompactionStep;
using storage::HistoryFile;
using storage::HistoryKind;
using test::readBytes;
using test::writeBytes;

namespace {

constexpr int kRecords = 12;
const std::vector<int> kDeleted{2, 5, 6, 11};

/// A history whose records 2, 5, 6 and 11 are marked deleted, ready to compact,
/// and the file a finished compaction must produce.
class KilledCompaction : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    HistoryFile history{dir.appDir(), HistoryKind::Received};
    QByteArray oldBytes;
    QByteArray newBytes;

    void SetUp() override
    {
        for (int i = 1; i <= kRecords; ++i) {
            storage::MailRecord r = test::sampleRecord(i);
            r.Body = r.Body.repeated(40); // bodies large enough to take a while to copy
            ASSERT_TRUE(history.AppendRecord(r));
        }
        for (int n : kDeleted)
            ASSERT_TRUE(history.MarkDeleted(n));
        oldBytes = readBytes(history.path());
        for (int i = 1; i <= kRecords; ++i) {
            if (std::find(kDeleted.begin(), kDeleted.end(), i) == kDeleted.end())
                newBytes +=
                    oldBytes.mid((i - 1) * storage::MailRecord::Size, storage::MailRecord::Size);
        }
    }

    void resetToOld()
    {
        QFile::remove(history.scratchPath());
        writeBytes(history.path(), oldBytes);
    }

    /// Runs a compaction in a child process that dies by SIGKILL at probe call `stopAt`.
    void compactInChildKilledAt(int stopAt)
    {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HistoryFile child(history.path(), history.scratchPath());
            int calls = 0;
            child.setCompactionProbe([&](CompactionStep) {
                if (calls++ == stopAt)
                    ::raise(SIGKILL);
            });
            (void)child.CompactHistory(); // killed meanwhile
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    }

    /// What any later use of the history sees, after the recovery every call runs.
    enum class Seen { Old, New, Neither };
    Seen whatIsSeen()
    {
        HistoryFile fresh(dir.appDir(), HistoryKind::Received);
        const int count = fresh.RecordCount();
        const QByteArray bytes = readBytes(fresh.path());
        const size_t listed = fresh.ReadAllHeaders().size();
        if (bytes == oldBytes && count == kRecords && listed == size_t(kRecords))
            return Seen::Old;
        if (bytes == newBytes && count == kRecords - int(kDeleted.size()) &&
            listed == size_t(count))
            return Seen::New;
        return Seen::Neither;
    }

    void expectNextCompactionFinishes()
    {
        HistoryFile fresh(dir.appDir(), HistoryKind::Received);
        ASSERT_TRUE(fresh.CompactHistory());
        EXPECT_EQ(readBytes(fresh.path()), newBytes);
        EXPECT_FALSE(QFile::exists(fresh.scratchPath()));
    }
};

} // namespace

TEST_F(KilledCompaction, AtEveryStepLeavesTheOldOrTheNewHistoryWhole)
{
    // Every step a compaction passes (scratch created, copied chunks, scratch
    // synced, renamed), counted on an undisturbed run; only the last one is past
    // the rename.
    resetToOld();
    int steps = 0;
    {
        HistoryFile counting(dir.appDir(), HistoryKind::Received);
        counting.setCompactionProbe([&](CompactionStep) { ++steps; });
        ASSERT_TRUE(counting.CompactHistory());
    }
    ASSERT_GE(steps, 4);
    for (int stopAt = 0; stopAt < steps; ++stopAt) {
        SCOPED_TRACE(stopAt);
        resetToOld();
        compactInChildKilledAt(stopAt);
        const Seen seen = whatIsSeen();
        EXPECT_EQ(seen, stopAt < steps - 1 ? Seen::Old : Seen::New);
        expectNextCompactionFinishes();
    }
}

TEST_F(KilledCompaction, AtRandomInstantsNeverLosesARecord)
{
    resetToOld();
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(HistoryFile(history.path(), history.scratchPath()).CompactHistory());
    const qint64 compactUs = std::max<qint64>(200, timer.nsecsElapsed() / 1000);

    std::mt19937 rng(20261208);
    std::uniform_int_distribution<qint64> delay(0, compactUs * 3 / 2);
    int old = 0;
    int fresh = 0;
    for (int round = 0; round < 60; ++round) {
        resetToOld();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            (void)HistoryFile(history.path(), history.scratchPath()).CompactHistory(); // killed meanwhile
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delay(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const Seen seen = whatIsSeen();
        ASSERT_NE(seen, Seen::Neither) << "round " << round;
        (seen == Seen::Old ? old : fresh)++;
    }
    RecordProperty("killed_before_rename", old);
    RecordProperty("killed_after_rename", fresh);
    expectNextCompactionFinishes();
}
