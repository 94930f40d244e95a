#include "StorageTestUtil.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/TempAppDir.h"

#include <QDir>
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

namespace {

/// A history whose every record has its original, and one deletion killed at each step.
class KilledDeletion : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    HistoryFile history{dir.appDir(), HistoryKind::Received};
    storage::Originals originals{dir.appDir(), HistoryKind::Received};

    void reset()
    {
        QDir(originals.folder()).removeRecursively();
        writeBytes(history.path(), {});
        QFile::remove(history.scratchPath());
        // A pass of its own that ends here, as the receive's ends with its run.
        const storage::Originals originals(dir.appDir(), HistoryKind::Received);
        for (int i = 1; i <= 6; ++i) {
            const storage::MailRecord r = test::sampleRecord(i % 5); // 0 and 5 are twins
            ASSERT_TRUE(originals.Store(r.toBytes(), QByteArray("message ") + QByteArray::number(i)));
            ASSERT_TRUE(history.AppendRecord(r));
        }
    }
    void deleteInChildKilledAt(int stopAt, const std::function<void(HistoryFile&)>& remove)
    {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HistoryFile child(dir.appDir(), HistoryKind::Received);
            int calls = 0;
            child.setCompactionProbe([&](CompactionStep) {
                if (calls++ == stopAt)
                    ::raise(SIGKILL);
            });
            remove(child); // killed meanwhile, or through
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    }
    /// The originals on disk and the records' names, after the next start's collection.
    std::pair<QStringList, QStringList> afterNextStart()
    {
        HistoryFile fresh(dir.appDir(), HistoryKind::Received);
        (void)storage::Originals(dir.appDir(), HistoryKind::Received).CollectOrphans(fresh);
        QStringList named;
        for (int n = 1; n <= fresh.RecordCount(); ++n) {
            const QString name = storage::Originals::keyOf(*fresh.ReadRecordBytes(n));
            if (!named.contains(name))
                named << name;
        }
        named.sort();
        return {originals.Keys(), named};
    }
};

} // namespace

TEST_F(KilledDeletion, AtEveryStepLeavesNoOrphanAndNoMissingOriginalAfterTheNextStart)
{
    const std::vector<std::pair<const char*, std::function<void(HistoryFile&)>>> deletions = {
        {"one", [](HistoryFile& h) { (void)h.DeleteRecord(3, *h.ReadRecordBytes(3)); }},
        {"a twin", [](HistoryFile& h) { (void)h.DeleteRecord(5, *h.ReadRecordBytes(5)); }},
        {"every record", [](HistoryFile& h) { (void)h.DeleteAll(); }},
    };
    for (const auto& [name, remove] : deletions) {
        // Probe calls 0 … 3 at least stop the compaction; one past the last lets it through.
        for (int stopAt = 0; stopAt <= 4; ++stopAt) {
            SCOPED_TRACE(std::string(name) + " killed at " + std::to_string(stopAt));
            reset();
            const int before = history.RecordCount();
            deleteInChildKilledAt(stopAt, remove);
            const auto [onDisk, named] = afterNextStart();
            EXPECT_EQ(onDisk, named);
            EXPECT_LE(HistoryFile(dir.appDir(), HistoryKind::Received).RecordCount(), before);
        }
    }
}
