#include "storage/Originals.h"

#include "storage/HistoryFile.h"
#include "common/Durable.h"

#include "StorageTestUtil.h"
#include "support/TempAppDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvidan;
using storage::HistoryFile;
using storage::HistoryKind;
using storage::MailRecord;
using storage::Originals;
using test::readBytes;
using test::sampleRecord;

namespace {

QByteArray messageFor(int i)
{
    return QByteArray("Subject: sample ") + QByteArray::number(i) + "\r\n\r\n" + QByteArray(500 + i, 'x') + "\r\n";
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class OriginalsTest : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    Originals received{dir.appDir(), HistoryKind::Received};
    HistoryFile history{dir.appDir(), HistoryKind::Received};

    /// Stores message i with its record and appends the record, as a receive does.
    QByteArray receive(int i)
    {
        const QByteArray record = sampleRecord(i).toBytes();
        EXPECT_TRUE(received.Store(record, messageFor(i)));
        EXPECT_TRUE(history.AppendRecord(sampleRecord(i)));
        return record;
    }
    QStringList packs() const { return QDir(received.folder()).entryList({QStringLiteral("*.pack")}, QDir::Files); }
    QString pack() const { return packs().isEmpty() ? QString() : received.folder() + u'/' + packs().first(); }
};

} // namespace

TEST_F(OriginalsTest, LivesInItsOwnPrivateFolderPerHistory)
{
    EXPECT_EQ(received.folder(), dir.path(u"\\★MAilData\\originals\\received"));
    EXPECT_EQ(Originals(dir.appDir(), HistoryKind::Sent).folder(), dir.path(u"\\★MAilData\\originals\\sent"));
    const QByteArray record = sampleRecord(1).toBytes();
    ASSERT_TRUE(received.Store(record, messageFor(1)));
    EXPECT_EQ(modeOf(dir.path(u"\\★MAilData\\originals")), 0700u);
    EXPECT_EQ(modeOf(received.folder()), 0700u);
    ASSERT_EQ(packs().size(), 1);
    for (const QString& file : filesIn(received.folder()))
        EXPECT_EQ(modeOf(received.folder() + u'/' + file), 0600u) << file.toStdString();
}

TEST_F(OriginalsTest, IsNamedAfterTheRecordBytesWithoutTheLiveFlag)
{
    MailRecord live = sampleRecord(3);
    MailRecord marked = live;
    marked.Live = 0;
    const QByteArray bytes = live.toBytes();
    EXPECT_EQ(Originals::keyOf(bytes), Originals::keyOf(marked.toBytes()));
    EXPECT_NE(Originals::keyOf(bytes), Originals::keyOf(sampleRecord(4).toBytes()));
    // Every byte but the blanks ending the fields counts, the line end too.
    QByteArray otherEnd = bytes;
    otherEnd[MailRecord::LineEndOffset] = '\n';
    EXPECT_NE(Originals::keyOf(bytes), Originals::keyOf(otherEnd));
    QByteArray lastBodyByte = bytes;
    lastBodyByte[MailRecord::LineEndOffset - 1] = 'x';
    EXPECT_NE(Originals::keyOf(bytes), Originals::keyOf(lastBodyByte));
    // Earlier versions named originals after every byte: files on disk hold that name.
    EXPECT_EQ(Originals::wholeRecordKeyOf(bytes),
              QString::fromLatin1(QCryptographicHash::hash(bytes.first(MailRecord::LiveOffset),
                                                           QCryptographicHash::Blake2b_256).toHex()));
    ASSERT_TRUE(received.Store(bytes, messageFor(3)));
    EXPECT_EQ(received.Keys(), QStringList{Originals::keyOf(bytes)});
    EXPECT_EQ(received.Load(marked.toBytes()), messageFor(3)) << "a record marked for deletion still finds it";
}

TEST_F(OriginalsTest, LoadGivesBackTheExactBytesOrNothing)
{
    QByteArray awkward = messageFor(7);
    awkward.append('\0').append("\r\n.\r\n\x1b$B$3$s\x1b(B", 14);
    const QByteArray record = sampleRecord(7).toBytes();
    ASSERT_TRUE(received.Store(record, awkward));
    EXPECT_EQ(received.Load(record), awkward);
    EXPECT_FALSE(received.Load(sampleRecord(8).toBytes()).has_value());
    EXPECT_EQ(received.TotalBytes(), awkward.size());

    // Bytes changed on disk fail the entry's checksum: no original rather than a wrong one.
    QByteArray stored = readBytes(pack());
    const qsizetype at = stored.indexOf(awkward);
    ASSERT_GT(at, 0);
    stored[at + 3] = 'X';
    test::writeBytes(pack(), stored);
    EXPECT_FALSE(Originals(received.folder()).Load(record).has_value());
}

TEST_F(OriginalsTest, AnIdenticalRecordSharesTheOriginalAlreadyThere)
{
    const QByteArray record = sampleRecord(2).toBytes();
    ASSERT_TRUE(received.Store(record, messageFor(2)));
    ASSERT_TRUE(received.Store(record, messageFor(2)));
    ASSERT_TRUE(received.Store(record, "Received: elsewhere\r\n" + messageFor(2)));
    EXPECT_EQ(received.Load(record), messageFor(2));
    EXPECT_TRUE(Originals(received.folder()).Store(record, "Received: later\r\n" + messageFor(2)));
    EXPECT_EQ(received.Load(record), messageFor(2));
    EXPECT_EQ(received.TotalBytes(), messageFor(2).size());
}

TEST_F(OriginalsTest, TotalCountsEveryOriginalAndNothingElse)
{
    EXPECT_EQ(received.TotalBytes(), 0);
    qint64 expected = 0;
    for (int i = 1; i <= 4; ++i) {
        receive(i);
        expected += messageFor(i).size();
    }
    EXPECT_EQ(received.TotalBytes(), expected);
}

TEST_F(OriginalsTest, CollectionRemovesOnlyWhatAKilledPassLeftUnnamed)
{
    const QByteArray kept = receive(1);
    const QByteArray orphan = sampleRecord(2).toBytes();
    ASSERT_TRUE(received.Store(orphan, messageFor(2))); // killed before its record was appended
    test::writeBytes(received.folder() + QStringLiteral("/0123.eml.123-4.part"), "torn"); // the earlier layout's

    // While the pass is open its original may still get its record.
    EXPECT_EQ(received.CollectOrphans(history), 0);
    EXPECT_EQ(received.Keys().size(), 2);

    // The pass's process dies: its marker stays behind.
    const QStringList markers = filesIn(received.folder()).filter(QStringLiteral(".pass-"));
    ASSERT_EQ(markers.size(), 1);
    const QByteArray markerBytes = readBytes(received.folder() + u'/' + markers.first());
    received = Originals(received.folder());
    test::writeBytes(received.folder() + u'/' + markers.first(), markerBytes);
    // And a batch it never committed: a header whose message never reached the disk.
    const qint64 whole = QFileInfo(pack()).size();
    QFile torn(pack());
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write(readBytes(pack()).first(100));
    torn.close();

    EXPECT_EQ(Originals(received.folder()).CollectOrphans(history), 3);
    EXPECT_EQ(received.Load(kept), messageFor(1));
    EXPECT_FALSE(received.Load(orphan).has_value());
    EXPECT_EQ(QFileInfo(pack()).size(), whole);
    EXPECT_FALSE(readBytes(pack()).contains(messageFor(2))) << "a collected original's bytes are gone";
    // The next pass appends where the pack's last whole entry ends.
    EXPECT_TRUE(history.AppendRecord(sampleRecord(5)));
    ASSERT_TRUE(Originals(received.folder()).Store(sampleRecord(5).toBytes(), messageFor(5)));
    EXPECT_EQ(packs().size(), 1);
    EXPECT_EQ(Originals(received.folder()).Load(sampleRecord(5).toBytes()), messageFor(5));
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".pass-")).isEmpty());
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".part")).isEmpty());
    // Without a marker nothing is compared: an original stored beside a live pass is safe.
    EXPECT_EQ(Originals(received.folder()).CollectOrphans(history), 0);
}

TEST_F(OriginalsTest, ACleanlyEndedPassLeavesNoMarker)
{
    {
        Originals pass(received.folder());
        ASSERT_TRUE(pass.Store(sampleRecord(1).toBytes(), messageFor(1)));
        EXPECT_EQ(filesIn(pass.folder()).filter(QStringLiteral(".pass-")).size(), 1);
    }
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".pass-")).isEmpty());
}

TEST_F(OriginalsTest, AFailedFlushTakesTheWholeBatchBack)
{
    std::vector<Originals::Pending> batch(40);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(received.Write(sampleRecord(i).toBytes(), messageFor(i), batch[size_t(i)]));
    common::durable::setSyncProbe([](const QString& path) { return !path.endsWith(QStringLiteral(".pack")); });
    EXPECT_FALSE(received.Commit(batch).isOk());
    common::durable::setSyncProbe({});
    EXPECT_TRUE(received.Keys().isEmpty());
    EXPECT_EQ(QFileInfo(pack()).size(), 0);

    batch.assign(40, {});
    QStringList flushed;
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(received.Write(sampleRecord(i).toBytes(), messageFor(i), batch[size_t(i)]));
    common::durable::setSyncProbe([&](const QString& path) { return flushed << path, true; });
    ASSERT_TRUE(received.Commit(batch));
    ASSERT_TRUE(received.Store(sampleRecord(40).toBytes(), messageFor(40)));
    common::durable::setSyncProbe({});
    for (int i = 0; i <= 40; ++i)
        EXPECT_EQ(received.Load(sampleRecord(i).toBytes()), messageFor(i));
    // One flush per batch, and the folder only once, when it first names the pack.
    EXPECT_EQ(flushed, QStringList({pack(), received.folder(), pack()}));
}

TEST_F(OriginalsTest, PassesShareAPackAndRemovalTakesTheBytesWithIt)
{
    for (int pass = 0; pass < 3; ++pass) {
        const Originals one(received.folder());
        for (int i = pass * 4; i < pass * 4 + 4; ++i)
            ASSERT_TRUE(one.Store(sampleRecord(i).toBytes(), messageFor(i)));
    }
    ASSERT_EQ(packs().size(), 1);
    const qint64 total = received.TotalBytes();
    ASSERT_TRUE(received.RemoveKeys({Originals::keyOf(sampleRecord(1).toBytes()), Originals::keyOf(sampleRecord(6).toBytes())}));
    EXPECT_EQ(received.TotalBytes(), total - messageFor(1).size() - messageFor(6).size());
    EXPECT_FALSE(received.Load(sampleRecord(6).toBytes()).has_value());
    EXPECT_EQ(received.Load(sampleRecord(7).toBytes()), messageFor(7));
    const QByteArray left = readBytes(pack());
    EXPECT_FALSE(left.contains(messageFor(1)) || left.contains(messageFor(6)));

    QStringList all;
    for (int i = 0; i < 12; ++i)
        all << Originals::keyOf(sampleRecord(i).toBytes());
    ASSERT_TRUE(received.RemoveKeys(all));
    EXPECT_TRUE(packs().isEmpty()) << "a pack with nothing live goes";
    EXPECT_EQ(received.TotalBytes(), 0);
}

TEST_F(OriginalsTest, OriginalsOfEarlierVersionsStillReadCountAndGoWithTheirRecords)
{
    // One file per original, and a pack entry without a key kind: both named after
    // the whole record.
    const QByteArray asFile = receive(9), inPack = sampleRecord(10).toBytes(), now = receive(11);
    ASSERT_TRUE(history.AppendRecord(sampleRecord(10)));
    const QString file = received.folder() + u'/' + Originals::wholeRecordKeyOf(asFile) + QStringLiteral(".eml");
    test::writeBytes(file, messageFor(9));
    ASSERT_TRUE(received.RemoveKeys({Originals::keyOf(asFile)}));
    const QByteArray message = messageFor(10);
    const QByteArray header = ("CVO1L " + Originals::wholeRecordKeyOf(inPack).toLatin1() + ' ' +
                               QByteArray::number(message.size(), 16).rightJustified(16, '0') + ' ' +
                               QCryptographicHash::hash(message, QCryptographicHash::Blake2b_256).toHex())
                                  .leftJustified(159, ' ') + '\n';
    test::writeBytes(received.folder() + QStringLiteral("/0000000000001-1-0.pack"), header + message);
    received = Originals(received.folder());

    EXPECT_EQ(received.Load(asFile), messageFor(9));
    EXPECT_EQ(received.Load(inPack), messageFor(10));
    EXPECT_EQ(received.Load(now), messageFor(11));
    EXPECT_EQ(received.Keys().size(), 3);
    EXPECT_EQ(received.TotalBytes(), messageFor(9).size() + messageFor(10).size() + messageFor(11).size());
    // Named by their records, so a collection keeps them.
    test::writeBytes(received.folder() + QStringLiteral("/.pass-1-0"), "");
    EXPECT_EQ(Originals(received.folder()).CollectOrphans(history), 0);
    EXPECT_EQ(received.Keys().size(), 3);

    ASSERT_TRUE(history.DeleteRecord(3, *history.ReadRecordBytes(3))); // message 10's, in the old pack
    EXPECT_FALSE(received.Load(inPack).has_value());
    ASSERT_TRUE(history.DeleteRecord(1, *history.ReadRecordBytes(1)));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(received.Keys(), QStringList{Originals::keyOf(now)});
    EXPECT_FALSE(received.HoldsWholeRecordKeys()) << "none left: the earlier key is no longer taken";
}
