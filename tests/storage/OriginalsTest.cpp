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
    QStringList originalsOnDisk() const { return QDir(received.folder()).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name); }
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
    EXPECT_EQ(modeOf(received.pathOf(record)), 0600u);
}

TEST_F(OriginalsTest, IsNamedAfterTheRecordBytesWithoutTheLiveFlag)
{
    MailRecord live = sampleRecord(3);
    MailRecord marked = live;
    marked.Live = 0;
    const QByteArray bytes = live.toBytes();
    EXPECT_EQ(Originals::keyOf(bytes), Originals::keyOf(marked.toBytes()));
    EXPECT_EQ(Originals::keyOf(bytes),
              QString::fromLatin1(QCryptographicHash::hash(bytes.first(MailRecord::LiveOffset),
                                                           QCryptographicHash::Sha256).toHex()));
    EXPECT_NE(Originals::keyOf(bytes), Originals::keyOf(sampleRecord(4).toBytes()));
    EXPECT_EQ(QFileInfo(received.pathOf(bytes)).fileName(), Originals::keyOf(bytes) + QStringLiteral(".eml"));
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
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".part")).isEmpty());
}

TEST_F(OriginalsTest, AnIdenticalRecordSharesTheOriginalAlreadyThere)
{
    const QByteArray record = sampleRecord(2).toBytes();
    ASSERT_TRUE(received.Store(record, messageFor(2)));
    ASSERT_TRUE(received.Store(record, messageFor(2)));
    ASSERT_TRUE(received.Store(record, "Received: elsewhere\r\n" + messageFor(2)));
    EXPECT_EQ(received.Load(record), messageFor(2));
    EXPECT_EQ(originalsOnDisk().size(), 1);
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".part")).isEmpty());
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
    test::writeBytes(received.pathOf(orphan) + QStringLiteral(".123-4.part"), "torn");

    // While the pass is open its original may still get its record.
    EXPECT_EQ(received.CollectOrphans(history), 0);
    EXPECT_EQ(originalsOnDisk().size(), 2);

    // The pass's process dies: its marker stays behind.
    const QStringList markers = filesIn(received.folder()).filter(QStringLiteral(".pass-"));
    ASSERT_EQ(markers.size(), 1);
    const QByteArray markerBytes = readBytes(received.folder() + u'/' + markers.first());
    received = Originals(received.folder());
    test::writeBytes(received.folder() + u'/' + markers.first(), markerBytes);

    EXPECT_EQ(Originals(received.folder()).CollectOrphans(history), 2);
    EXPECT_EQ(received.Load(kept), messageFor(1));
    EXPECT_FALSE(received.Load(orphan).has_value());
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

TEST_F(OriginalsTest, ABatchIsNamedOnlyOnceAllOfItIsOnDisk)
{
    std::vector<Originals::Pending> batch(40);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(received.Write(sampleRecord(i).toBytes(), messageFor(i), batch[size_t(i)]));
    EXPECT_TRUE(originalsOnDisk().isEmpty()) << "nothing under its name before the commit";

    // One flush fails: no original of the batch is named, and no temporary file stays.
    const QString failing = batch[17].temp;
    common::durable::setSyncProbe([&](const QString& path) { return path != failing; });
    EXPECT_FALSE(received.Commit(batch).isOk());
    common::durable::setSyncProbe({});
    EXPECT_TRUE(originalsOnDisk().isEmpty());
    EXPECT_TRUE(filesIn(received.folder()).filter(QStringLiteral(".part")).isEmpty());

    batch.assign(40, {});
    QStringList flushed;
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(received.Write(sampleRecord(i).toBytes(), messageFor(i), batch[size_t(i)]));
    common::durable::setSyncProbe([&](const QString& path) { return flushed << path, true; });
    ASSERT_TRUE(received.Commit(batch));
    common::durable::setSyncProbe({});
    EXPECT_EQ(originalsOnDisk().size(), 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(received.Load(sampleRecord(i).toBytes()), messageFor(i));
    // Every file, then the folder that names them.
    ASSERT_EQ(flushed.size(), 41);
    EXPECT_EQ(flushed.last(), received.folder());
}
