#include "storage/HistoryFile.h"

#include "storage/AddressBookFile.h"
#include "storage/RecordFile.h"
#include "common/Durable.h"

#include "StorageTestUtil.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <chrono>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace corvidan;
using storage::HistoryFile;
using storage::HistoryKind;
using storage::MailRecord;
using test::readBytes;
using test::sampleRecord;
using test::writeBytes;

namespace {

constexpr qint64 kSize = MailRecord::Size;

class HistoryFileTest : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    HistoryFile history{dir.appDir(), HistoryKind::Received};

    void appendSamples(int count, int from = 1)
    {
        for (int i = from; i < from + count; ++i)
            ASSERT_TRUE(history.AppendRecord(sampleRecord(i)));
    }
    std::vector<MailRecord> all() const
    {
        std::vector<MailRecord> out;
        EXPECT_TRUE(history.ReadAllRecords([&](int n, const MailRecord& r) {
            EXPECT_EQ(n, static_cast<int>(out.size()) + 1);
            out.push_back(r);
            return true;
        }));
        return out;
    }
    QStringList expectedSubjects(std::initializer_list<int> numbers) const
    {
        QStringList out;
        for (int i : numbers)
            out << sampleRecord(i).Subject;
        return out;
    }
    /// Sets the history's length without writing its bytes (a sparse file).
    void truncateTo(qint64 bytes)
    {
        writeBytes(history.path(), {});
        ASSERT_EQ(::truncate(QFile::encodeName(history.path()).constData(), bytes), 0);
    }
};

} // namespace

TEST_F(HistoryFileTest, MissingOrEmptyFileHasNoRecordsAndStartsAtOne)
{
    EXPECT_EQ(history.RecordCount(), 0);
    EXPECT_EQ(history.NextRecordNo(), std::int16_t(1));
    EXPECT_TRUE(all().empty());
    EXPECT_TRUE(history.ReadAllHeaders().empty());
    EXPECT_FALSE(history.ReadRecord(1).has_value());

    writeBytes(history.path(), {});
    EXPECT_EQ(history.NextRecordNo(), std::int16_t(1));
    EXPECT_TRUE(all().empty());
    EXPECT_TRUE(history.ReadAllHeaders().empty());
}

TEST_F(HistoryFileTest, UsesTheFixedFileNamesOfBothHistories)
{
    EXPECT_EQ(QFileInfo(history.path()).fileName(), QStringLiteral("zrbdata2.data"));
    EXPECT_EQ(QFileInfo(history.scratchPath()).fileName(), QStringLiteral("ZRBDATA2.TMP"));
    const HistoryFile sent(dir.appDir(), HistoryKind::Sent);
    EXPECT_EQ(QFileInfo(sent.path()).fileName(), QStringLiteral("zrbdata5.data"));
    EXPECT_EQ(QFileInfo(sent.scratchPath()).fileName(), QStringLiteral("ZRBDATA5.TMP"));
    EXPECT_EQ(QFileInfo(sent.path()).dir(), QFileInfo(dir.path(u"\\★MAilData\\x")).dir());
}

TEST_F(HistoryFileTest, AppendingToThreeRecordsWritesRecordFourAtByte96852)
{
    appendSamples(3);
    const QByteArray before = readBytes(history.path());
    ASSERT_EQ(before.size(), 3 * kSize);
    EXPECT_EQ(history.NextRecordNo(), std::int16_t(4));

    MailRecord fourth = sampleRecord(4);
    fourth.Live = 0; // an append always stores a live record
    std::int16_t written = 0;
    ASSERT_TRUE(history.AppendRecord(fourth, &written));
    EXPECT_EQ(written, 4);

    const QByteArray after = readBytes(history.path());
    ASSERT_EQ(after.size(), 4 * kSize);
    EXPECT_EQ(after.left(96852), before);
    fourth.Live = 1;
    EXPECT_EQ(after.mid(96852), fourth.toBytes());
    EXPECT_EQ(after.mid(96852 + 32280, 4), QByteArray("\r\n\x01\x00", 4));
}

TEST_F(HistoryFileTest, ReadsBackWhatWasAppendedInEveryWay)
{
    appendSamples(5);
    const std::vector<MailRecord> records = all();
    ASSERT_EQ(records.size(), 5u);
    for (int i = 1; i <= 5; ++i) {
        const MailRecord want = sampleRecord(i);
        const MailRecord& got = records[static_cast<size_t>(i - 1)];
        EXPECT_EQ(got.Subject.trimmed(), want.Subject);
        EXPECT_EQ(got.Date.trimmed(), want.Date);
        EXPECT_EQ(got.Address.trimmed(), want.Address);
        EXPECT_EQ(got.Body.trimmed(), want.Body.trimmed());
        const std::optional<MailRecord> one = history.ReadRecord(i);
        ASSERT_TRUE(one.has_value());
        EXPECT_EQ(one->Body, got.Body);
    }
    EXPECT_FALSE(history.ReadRecord(6).has_value());
    EXPECT_FALSE(history.ReadRecord(0).has_value());

    const std::vector<storage::MailHeader> headers = history.ReadAllHeaders();
    ASSERT_EQ(headers.size(), 5u);
    for (size_t i = 0; i < headers.size(); ++i) {
        EXPECT_EQ(headers[i].Subject, records[i].Subject);
        EXPECT_EQ(headers[i].Date, records[i].Date);
        EXPECT_EQ(headers[i].Address, records[i].Address);
    }
}

TEST_F(HistoryFileTest, EnumerationStopsWhenTheCallerSaysSo)
{
    appendSamples(4);
    int seen = 0;
    ASSERT_TRUE(history.ReadAllRecords([&](int, const MailRecord&) { return ++seen < 2; }));
    EXPECT_EQ(seen, 2);
}

TEST_F(HistoryFileTest, CompactionOfRecordTwoOfThreeKeepsOneAndThree)
{
    appendSamples(3);
    const QByteArray before = readBytes(history.path());
    ASSERT_TRUE(history.MarkDeleted(2));
    const QByteArray marked = readBytes(history.path());
    EXPECT_EQ(marked.mid(kSize + 32282, 2), QByteArray("\x00\x00", 2));
    EXPECT_EQ(marked.left(kSize + 32282), before.left(kSize + 32282));
    EXPECT_EQ(marked.mid(2 * kSize), before.mid(2 * kSize));

    ASSERT_TRUE(history.CompactHistory());
    const QByteArray after = readBytes(history.path());
    ASSERT_EQ(after.size(), 2 * kSize);
    EXPECT_EQ(after.left(kSize), before.left(kSize));
    EXPECT_EQ(after.mid(kSize), before.mid(2 * kSize));
    EXPECT_FALSE(QFile::exists(history.scratchPath()));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 3}));
}

TEST_F(HistoryFileTest, CompactionOfEveryRecordLeavesAnEmptyFile)
{
    appendSamples(5);
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(history.MarkDeleted(i));
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_TRUE(QFile::exists(history.path()));
    EXPECT_EQ(QFileInfo(history.path()).size(), 0);
    EXPECT_FALSE(QFile::exists(history.scratchPath()));
    EXPECT_TRUE(history.ReadAllHeaders().empty());
    EXPECT_EQ(history.NextRecordNo(), std::int16_t(1));

    // Compacting an empty or missing history is harmless.
    ASSERT_TRUE(history.CompactHistory());
    QFile::remove(history.path());
    ASSERT_TRUE(history.CompactHistory());
}

TEST_F(HistoryFileTest, CompactionWithNothingMarkedKeepsTheFile)
{
    appendSamples(3);
    const QByteArray before = readBytes(history.path());
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_EQ(readBytes(history.path()), before);
}

TEST_F(HistoryFileTest, CompactionKeepsRunsInOrderAroundSeveralGaps)
{
    appendSamples(9);
    for (int n : {1, 4, 5, 9})
        ASSERT_TRUE(history.MarkDeleted(n));
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_EQ(test::subjectsOf(all()), expectedSubjects({2, 3, 6, 7, 8}));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({2, 3, 6, 7, 8}));
}

TEST_F(HistoryFileTest, MarkingOutsideTheFileIsRefused)
{
    appendSamples(2);
    const QByteArray before = readBytes(history.path());
    EXPECT_FALSE(history.MarkDeleted(0));
    EXPECT_FALSE(history.MarkDeleted(3));
    EXPECT_EQ(readBytes(history.path()), before);
}

TEST_F(HistoryFileTest, MarkingChecksTheRecordIsStillTheOneShown)
{
    appendSamples(4);
    const QByteArray shown2 = *history.ReadRecordBytes(2);
    const storage::MailHeader listed2 = history.ReadAllHeaders().at(1);
    EXPECT_EQ(MailRecord::fromBytes(shown2.constData()).Subject.trimmed(), sampleRecord(2).Subject);

    // Another writer removes record 1: the record shown as number 2 is now number 1.
    HistoryFile other(history.path(), history.scratchPath());
    ASSERT_TRUE(other.MarkDeleted(1));
    ASSERT_TRUE(other.CompactHistory());
    const QByteArray before = readBytes(history.path());
    for (const common::Status& refused :
         {history.MarkDeleted(2, shown2), history.MarkDeleted(2, listed2)}) {
        EXPECT_EQ(refused.code(), common::ErrorCode::NotFound);
        EXPECT_TRUE(refused.detail().contains(QStringLiteral("削除しませんでした")))
            << refused.detail().toStdString();
    }
    EXPECT_EQ(readBytes(history.path()), before) << "a refused mark wrote";
    // Bytes of another size, or a record differing in one body byte, are not the record.
    EXPECT_FALSE(history.MarkDeleted(1, shown2.left(MailRecord::HeaderBytes)));
    QByteArray edited = shown2;
    edited[MailRecord::BodyOffset + 5] = '#';
    EXPECT_FALSE(history.MarkDeleted(1, edited));
    EXPECT_EQ(readBytes(history.path()), before);

    // Under its new number the same record is found by either check; the live flag
    // is no part of what was shown.
    QByteArray shownUnmarked = shown2;
    shownUnmarked[MailRecord::LiveOffset] = 0;
    ASSERT_TRUE(history.MarkDeleted(1, shownUnmarked));
    ASSERT_TRUE(history.MarkDeleted(2, history.ReadAllHeaders().at(1)));
    EXPECT_FALSE(history.MarkDeleted(5, shown2)) << "past the end";
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_EQ(test::subjectsOf(all()), expectedSubjects({4}));
}

TEST_F(HistoryFileTest, WritersTakeTurnsAndAWriterKeptWaitingGivesUpClearly)
{
    appendSamples(2);
    storage::AddressBookFile book(dir.path(common::paths::AddressBook),
                                  dir.path(common::paths::AddressBookScratch));
    const QByteArray before = readBytes(history.path());
    storage::detail::WriterLock::setWaitLimitMs(300);
    {
        storage::detail::WriterLock held;
        ASSERT_TRUE(storage::detail::WriterLock::acquire(history.path(), held));
        QElapsedTimer waited;
        waited.start();
        const common::Status refused = history.AppendRecord(sampleRecord(3));
        EXPECT_GE(waited.elapsed(), 250);
        EXPECT_EQ(refused.code(), common::ErrorCode::Io);
        EXPECT_TRUE(refused.detail().contains(QStringLiteral("更新中"))) << refused.detail().toStdString();
        EXPECT_FALSE(history.MarkDeleted(1));
        EXPECT_FALSE(history.CompactHistory());
        EXPECT_FALSE(book.AppendRecord({QStringLiteral("名前"), QStringLiteral("a@example.jp")}));
        EXPECT_EQ(readBytes(history.path()), before);
        EXPECT_FALSE(QFile::exists(book.path()));

        // A writer that waits less than the limit goes through once the lock is free.
        std::thread release([&held] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            held = storage::detail::WriterLock();
        });
        std::int16_t n = 0;
        EXPECT_TRUE(history.AppendRecord(sampleRecord(3), &n));
        release.join();
        EXPECT_EQ(n, 3);
    }
    storage::detail::WriterLock::setWaitLimitMs(0);
    EXPECT_EQ(storage::detail::WriterLock::waitLimitMs(), 10000);
    EXPECT_EQ(test::subjectsOf(all()), expectedSubjects({1, 2, 3}));
}

TEST_F(HistoryFileTest, TornTailIsNoRecordAndTheNextAppendOverwritesIt)
{
    for (const qint64 tail : {qint64(1000), qint64(20000)}) {
        QFile::remove(history.path());
        appendSamples(2);
        const QByteArray whole = readBytes(history.path());
        writeBytes(history.path(), whole + QByteArray(tail, 'X'));

        EXPECT_EQ(history.RecordCount(), 2);
        EXPECT_EQ(all().size(), 2u);
        EXPECT_EQ(history.ReadAllHeaders().size(), 2u);
        EXPECT_FALSE(history.ReadRecord(3).has_value());
        EXPECT_EQ(history.NextRecordNo(), std::int16_t(3)) << "tail " << tail;

        std::int16_t n = 0;
        ASSERT_TRUE(history.AppendRecord(sampleRecord(3), &n));
        EXPECT_EQ(n, 3);
        const QByteArray after = readBytes(history.path());
        ASSERT_EQ(after.size(), 3 * kSize);
        EXPECT_EQ(after.mid(2 * kSize), sampleRecord(3).toBytes());
        EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 2, 3}));
    }
}

TEST_F(HistoryFileTest, CompactionDropsATornTail)
{
    appendSamples(2);
    writeBytes(history.path(), readBytes(history.path()) + QByteArray(500, 'X'));
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_EQ(QFileInfo(history.path()).size(), 2 * kSize);
}

TEST_F(HistoryFileTest, RefusesTheRecordAfter32767)
{
    truncateTo(32766 * kSize);
    EXPECT_EQ(history.NextRecordNo(), std::int16_t(32767));
    std::int16_t n = 0;
    ASSERT_TRUE(history.AppendRecord(sampleRecord(1), &n));
    EXPECT_EQ(n, 32767);
    EXPECT_EQ(history.ReadRecord(32767)->Subject.trimmed(), sampleRecord(1).Subject);

    EXPECT_FALSE(history.NextRecordNo().has_value());
    const common::Status refused = history.AppendRecord(sampleRecord(2));
    EXPECT_EQ(refused.code(), common::ErrorCode::TooManyRecords);
    EXPECT_FALSE(refused.detail().isEmpty());
    EXPECT_EQ(QFileInfo(history.path()).size(), 32767 * kSize);
    EXPECT_EQ(history.WriteRecord(32768, sampleRecord(2)).code(),
              common::ErrorCode::TooManyRecords);
}

TEST_F(HistoryFileTest, WritingPastTheEndWouldLeaveAGapAndIsRefused)
{
    appendSamples(1);
    EXPECT_FALSE(history.WriteRecord(3, sampleRecord(3)));
    EXPECT_EQ(history.RecordCount(), 1);
}

TEST_F(HistoryFileTest, OverwritingARecordShowsInTheListing)
{
    appendSamples(3);
    ASSERT_EQ(history.ReadAllHeaders().size(), 3u);
    ASSERT_TRUE(history.WriteRecord(2, sampleRecord(7)));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 7, 3}));
}

TEST_F(HistoryFileTest, NewHistoryIsPrivateToItsOwner)
{
    appendSamples(1);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(history.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(HistoryFileTest, ScratchLeftBesideAMissingHistoryIsRestoredBeforeAnyRead)
{
    appendSamples(3);
    const QByteArray records = readBytes(history.path());
    // What a crash between deleting the history and copying back leaves.
    ASSERT_TRUE(QFile::rename(history.path(), history.scratchPath()));

    EXPECT_EQ(history.RecordCount(), 3);
    EXPECT_EQ(readBytes(history.path()), records);
    EXPECT_FALSE(QFile::exists(history.scratchPath()));

    ASSERT_TRUE(QFile::rename(history.path(), history.scratchPath()));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 2, 3}));

    ASSERT_TRUE(QFile::rename(history.path(), history.scratchPath()));
    std::int16_t n = 0;
    ASSERT_TRUE(history.AppendRecord(sampleRecord(4), &n));
    EXPECT_EQ(n, 4);
    EXPECT_EQ(test::subjectsOf(all()), expectedSubjects({1, 2, 3, 4}));
}

TEST_F(HistoryFileTest, ScratchBesideAnExistingHistoryIsLeftAlone)
{
    appendSamples(2);
    const QByteArray records = readBytes(history.path());
    writeBytes(history.scratchPath(), QByteArray(kSize, 'S'));
    EXPECT_EQ(history.RecordCount(), 2);
    EXPECT_EQ(readBytes(history.path()), records);
    EXPECT_TRUE(QFile::exists(history.scratchPath()));
    // The next compaction replaces it and removes it.
    ASSERT_TRUE(history.CompactHistory());
    EXPECT_FALSE(QFile::exists(history.scratchPath()));
    EXPECT_EQ(readBytes(history.path()), records);
}

TEST(HistoryFileNames, ResolvesFolderAndFileNamesIgnoringCase)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("★maildata")));
    const QString folder = root.path() + QStringLiteral("/★maildata/");
    MailRecord r = sampleRecord(1);
    writeBytes(folder + QStringLiteral("ZrbData2.DATA"), r.toBytes());
    r = sampleRecord(2);
    writeBytes(folder + QStringLiteral("zrbdata5.tmp"), r.toBytes());

    const common::AppDir appDir(root.path());
    HistoryFile received(appDir, HistoryKind::Received);
    EXPECT_EQ(test::subjectsOf(received.ReadAllHeaders()), QStringList{sampleRecord(1).Subject});
    ASSERT_TRUE(received.AppendRecord(sampleRecord(3)));
    EXPECT_EQ(QFileInfo(folder + QStringLiteral("ZrbData2.DATA")).size(), 2 * kSize);

    // The sent history is missing; its differently cased scratch file is restored.
    HistoryFile sent(appDir, HistoryKind::Sent);
    EXPECT_EQ(sent.RecordCount(), 1);
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

TEST_F(HistoryFileTest, SummaryBesideTheHistoryHasItsOwnNameAndFollowsAppends)
{
    appendSamples(3);
    ASSERT_EQ(history.ReadAllHeaders().size(), 3u);
    const QString summary = history.path() + QStringLiteral(".idx");
    ASSERT_TRUE(QFile::exists(summary));
    const qint64 summarySize = QFileInfo(summary).size();

    appendSamples(2, 4);
    // Extended in place by one header per record, not dropped.
    EXPECT_EQ(QFileInfo(summary).size(), summarySize + 2 * MailRecord::HeaderBytes);
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 2, 3, 4, 5}));

    const QStringList files = QFileInfo(history.path()).dir().entryList(QDir::Files);
    EXPECT_EQ(files,
              (QStringList{QStringLiteral("zrbdata2.data"), QStringLiteral("zrbdata2.data.idx")}));
}

TEST_F(HistoryFileTest, SummaryIsNeverBelievedOverTheHistory)
{
    appendSamples(6);
    const QString summary = history.path() + QStringLiteral(".idx");
    ASSERT_EQ(history.ReadAllHeaders().size(), 6u);
    const QByteArray good = readBytes(summary);
    const QStringList expected = expectedSubjects({1, 2, 3, 4, 5, 6});

    // A damaged entry in the middle.
    QByteArray damaged = good;
    damaged[damaged.size() - 3 * MailRecord::HeaderBytes + 5] = 'Z';
    writeBytes(summary, damaged);
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expected);
    EXPECT_EQ(readBytes(summary), good) << "a damaged summary is rebuilt";

    // A summary cut short, and one that is not a summary at all.
    writeBytes(summary, good.left(good.size() - 100));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expected);
    writeBytes(summary, QByteArray("garbage"));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expected);

    // The history changed behind the program's back, with the same length.
    QByteArray bytes = readBytes(history.path());
    const QByteArray other = sampleRecord(42).toBytes();
    bytes.replace(3 * kSize, kSize, other);
    writeBytes(history.path(), bytes);
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 2, 3, 42, 5, 6}));

    // A summary of another history put in its place.
    HistoryFile sent(dir.appDir(), HistoryKind::Sent);
    for (int i = 11; i <= 16; ++i)
        ASSERT_TRUE(sent.AppendRecord(sampleRecord(i)));
    ASSERT_EQ(sent.ReadAllHeaders().size(), 6u);
    writeBytes(summary, readBytes(sent.path() + QStringLiteral(".idx")));
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), expectedSubjects({1, 2, 3, 42, 5, 6}));
}

TEST_F(HistoryFileTest, ListingDecodesFieldsLikeARecordRead)
{
    // Bytes no writer produces: NUL inside a field, a lead byte cut by the field's end.
    QByteArray raw = sampleRecord(1).toBytes();
    raw.replace(0, 6, QByteArray("ab\0cd ", 6));
    raw[189] = '\x82';
    raw.replace(190, 4, QByteArray("\xb1\xb2\x80\xfd"));
    writeBytes(history.path(), raw);
    const std::vector<storage::MailHeader> headers = history.ReadAllHeaders();
    ASSERT_EQ(headers.size(), 1u);
    const MailRecord whole = *history.ReadRecord(1);
    EXPECT_EQ(headers[0].Subject, QStringLiteral("ab"));
    EXPECT_EQ(headers[0].Subject, whole.Subject);
    EXPECT_EQ(headers[0].Date, whole.Date);
    EXPECT_EQ(headers[0].Address, whole.Address);
}

TEST_F(HistoryFileTest, ADeletionIsWholeOrNotAtAllAndTheFolderIsFlushedAfterEachRename)
{
    struct Case {
        const char* name;
        std::function<common::Status(HistoryFile&)> remove;
        QStringList left; // after a deletion that went through
    };
    const std::vector<Case> cases = {
        {"one record, as shown", [](HistoryFile& h) { return h.DeleteRecord(2, *h.ReadRecordBytes(2)); },
         {sampleRecord(1).Subject, sampleRecord(3).Subject}},
        {"one record, as listed", [](HistoryFile& h) { return h.DeleteRecord(3, h.ReadAllHeaders()[2]); },
         {sampleRecord(1).Subject, sampleRecord(2).Subject}},
        {"every record", [](HistoryFile& h) { return h.DeleteAll(); }, {}},
    };
    const storage::Originals& originals = *history.originals();
    const auto originalsLeft = [&] {
        QStringList out;
        for (int i = 1; i <= 3; ++i) {
            if (const auto message = originals.Load(sampleRecord(i).toBytes()))
                out << QString::fromUtf8(*message);
        }
        return out;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(history.path(), {});
        for (int i = 1; i <= 3; ++i)
            ASSERT_TRUE(originals.Store(sampleRecord(i).toBytes(), sampleRecord(i).Subject.toUtf8()));
        appendSamples(3);
        const QByteArray before = readBytes(history.path());

        // The scratch copy cannot be flushed: nothing is deleted, no mark is left behind.
        const QString scratch = history.scratchPath();
        common::durable::setSyncProbe([&](const QString& path) { return path != scratch; });
        const common::Status failed = c.remove(history);
        common::durable::setSyncProbe({});
        EXPECT_FALSE(failed.isOk());
        EXPECT_EQ(readBytes(history.path()), before);
        EXPECT_EQ(originalsLeft().size(), 3);

        // It goes through: and the folder entry is flushed after the rename, not only the file.
        QStringList flushes;
        common::durable::setSyncProbe([&](const QString& path) { return flushes << path, true; });
        ASSERT_TRUE(c.remove(history));
        common::durable::setSyncProbe({});
        EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()), c.left);
        // Their originals went with them; the others stay.
        EXPECT_EQ(originalsLeft(), c.left);
        const qsizetype scratchFlushed = flushes.indexOf(scratch);
        ASSERT_GE(scratchFlushed, 0);
        EXPECT_EQ(flushes.indexOf(QFileInfo(history.path()).absolutePath(), scratchFlushed), scratchFlushed + 1)
            << flushes.join(u' ').toStdString();
    }
}

TEST_F(HistoryFileTest, AnOriginalNamedByTwoRecordsGoesWithTheLastOfThem)
{
    const storage::Originals& originals = *history.originals();
    const QByteArray twin = sampleRecord(1).toBytes();
    ASSERT_TRUE(originals.Store(twin, "first"));
    ASSERT_TRUE(history.AppendRecord(sampleRecord(1)));
    ASSERT_TRUE(originals.Store(twin, "second"));
    ASSERT_TRUE(history.AppendRecord(sampleRecord(1)));
    // A record with the same header but another body names another original.
    MailRecord sameHeader = sampleRecord(1);
    sameHeader.Body = QStringLiteral("別の本文");
    ASSERT_TRUE(originals.Store(sameHeader.toBytes(), "third"));
    ASSERT_TRUE(history.AppendRecord(sameHeader));

    ASSERT_TRUE(history.DeleteRecord(3, history.ReadAllHeaders()[2]));
    EXPECT_FALSE(originals.Load(sameHeader.toBytes()).has_value());
    ASSERT_TRUE(history.DeleteRecord(1, twin));
    EXPECT_EQ(originals.Load(twin), QByteArray("first"));
    ASSERT_TRUE(history.DeleteRecord(1, twin));
    EXPECT_FALSE(originals.Load(twin).has_value());
    EXPECT_EQ(originals.TotalBytes(), 0);
}

TEST_F(HistoryFileTest, ARewriteReplacesTheHistoryWholeAndKeepsTheOldFileAsBackup)
{
    appendSamples(3);
    (void)history.ReadAllHeaders(); // a summary to be dropped
    const QByteArray before = readBytes(history.path());
    const QString backup = history.path() + QStringLiteral(".bak");
    const HistoryFile::Remake renameTwo = [](int n, const QByteArray& record) {
        if (n != 2)
            return record;
        MailRecord changed = MailRecord::fromBytes(record.constData());
        changed.Subject = QStringLiteral("直した件名");
        return changed.toBytes();
    };

    // Stopped before the swap: the history is as it was.
    const common::Status stopped =
        history.RewriteAll(renameTwo, backup, [] { return common::Status::fail(common::ErrorCode::Io); });
    EXPECT_FALSE(stopped.isOk());
    EXPECT_EQ(readBytes(history.path()), before);

    ASSERT_TRUE(history.RewriteAll(renameTwo, backup, {}));
    EXPECT_EQ(readBytes(backup), before);
    EXPECT_EQ(test::subjectsOf(history.ReadAllHeaders()),
              QStringList({sampleRecord(1).Subject, QStringLiteral("直した件名"), sampleRecord(3).Subject}));
    EXPECT_EQ(readBytes(history.path()).size(), before.size());
    EXPECT_EQ(QFileInfo(history.path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              QFileDevice::Permissions());
}
