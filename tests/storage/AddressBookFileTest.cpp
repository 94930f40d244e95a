#include "storage/AddressBookFile.h"

#include "StorageTestUtil.h"
#include "common/Cp932.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace corvidan;
using storage::AddressBookFile;
using storage::AddressRecord;
using test::readBytes;
using test::writeBytes;

namespace {

AddressRecord entry(const QString& name, const QString& address)
{
    AddressRecord r;
    r.Name = name;
    r.Address = address;
    return r;
}

class AddressBookTest : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    AddressBookFile book = AddressBookFile::addressBook(dir.appDir());

    std::vector<AddressRecord> all() const
    {
        std::vector<AddressRecord> out;
        EXPECT_TRUE(book.Enumerate([&](int n, const AddressRecord& r) {
            EXPECT_EQ(n, static_cast<int>(out.size()) + 1);
            out.push_back(r);
            return true;
        }));
        return out;
    }
    void appendThree()
    {
        ASSERT_TRUE(book.AppendRecord(
            entry(QStringLiteral("山田太郎"), QStringLiteral("taro@example.jp"))));
        ASSERT_TRUE(book.AppendRecord(
            entry(QStringLiteral("佐藤花子"), QStringLiteral("hanako@example.jp"))));
        ASSERT_TRUE(book.AppendRecord(
            entry(QStringLiteral("ｽｽﾞｷ ①"), QStringLiteral("鈴木 <suzuki@example.jp>"))));
    }
};

} // namespace

TEST_F(AddressBookTest, NewFileIsEmptyAndTheFirstAppendIsRecordOne)
{
    EXPECT_FALSE(QFile::exists(book.path()));
    EXPECT_EQ(book.Count(), 0);
    EXPECT_EQ(book.NextRecordNo(), std::int16_t(1));
    EXPECT_TRUE(all().empty());
    // Opening the missing file created it, as the program always did.
    EXPECT_TRUE(QFile::exists(book.path()));
    EXPECT_EQ(QFileInfo(book.path()).size(), 0);

    std::int16_t n = 0;
    ASSERT_TRUE(book.AppendRecord(entry(QStringLiteral("a"), QStringLiteral("a@b")), &n));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(QFileInfo(book.path()).size(), 184);
}

TEST_F(AddressBookTest, RecordLayoutPutsLineEndBetweenNameAndFlag)
{
    appendThree();
    const QByteArray bytes = readBytes(book.path());
    ASSERT_EQ(bytes.size(), 3 * 184);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bytes.mid(i * 184 + 90, 4), QByteArray("\r\n\x01\x00", 4)) << "record " << i + 1;
    EXPECT_EQ(bytes.left(90),
              common::cp932::encode(QStringLiteral("山田太郎")) + QByteArray(82, ' '));
    EXPECT_EQ(bytes.mid(94, 90), QByteArray("taro@example.jp") + QByteArray(75, ' '));
}

TEST_F(AddressBookTest, AppendingThreeAndDeletingTheSecondLeaves368Bytes)
{
    appendThree();
    const QByteArray before = readBytes(book.path());
    ASSERT_TRUE(book.MarkDeleted(2));
    // A marked record is still delivered until the compaction.
    const std::vector<AddressRecord> marked = all();
    ASSERT_EQ(marked.size(), 3u);
    EXPECT_EQ(marked[1].Live, 0);

    ASSERT_TRUE(book.Compact());
    const QByteArray after = readBytes(book.path());
    ASSERT_EQ(after.size(), 368);
    EXPECT_EQ(after.mid(184), before.mid(368));
    EXPECT_FALSE(QFile::exists(dir.path(u"\\★MAilData\\ZRBDATA20.TMP")));

    const std::optional<AddressRecord> second = book.ReadRecord(2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->Name.trimmed(), QStringLiteral("ｽｽﾞｷ ①"));
    EXPECT_EQ(second->Address.trimmed(), QStringLiteral("鈴木 <suzuki@example.jp>"));
    EXPECT_EQ(second->Live, 1);
    EXPECT_FALSE(book.ReadRecord(3).has_value());
}

TEST_F(AddressBookTest, MarkingChecksTheEntryIsStillTheOneShown)
{
    appendThree();
    const QByteArray shown2 = *book.ReadRecordBytes(2);
    // Another writer deletes entry 1 while the question is open.
    AddressBookFile other = AddressBookFile::addressBook(dir.appDir());
    ASSERT_TRUE(other.MarkDeleted(1));
    ASSERT_TRUE(other.Compact());
    const QByteArray before = readBytes(book.path());
    const common::Status refused = book.MarkDeleted(2, shown2);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.reason(), common::Reason::ShownAddressChanged);
    EXPECT_EQ(refused.number(), 2);
    EXPECT_EQ(refused.detail(), book.path());
    EXPECT_EQ(readBytes(book.path()), before);
    // One changed byte of the address is another entry too.
    QByteArray edited = shown2;
    edited[AddressRecord::AddressOffset] = 'X';
    EXPECT_FALSE(book.MarkDeleted(1, edited));
    EXPECT_EQ(readBytes(book.path()), before);

    ASSERT_TRUE(book.MarkDeleted(1, shown2));
    ASSERT_TRUE(book.Compact());
    ASSERT_EQ(all().size(), 1u);
    EXPECT_EQ(all()[0].Name.trimmed(), QStringLiteral("ｽｽﾞｷ ①"));
}

TEST_F(AddressBookTest, CompactionWithNothingMarkedRewritesTheSameRecords)
{
    appendThree();
    const QByteArray before = readBytes(book.path());
    ASSERT_TRUE(book.Compact());
    EXPECT_EQ(readBytes(book.path()), before);
}

TEST_F(AddressBookTest, CutsNamesToNinetyBytesOfWholeCharacters)
{
    ASSERT_TRUE(book.AppendRecord(entry(QString(50, QChar(u'名')), QStringLiteral("x"))));
    ASSERT_TRUE(book.AppendRecord(
        entry(QStringLiteral("a") + QString(50, QChar(u'名')), QString(95, QChar(u'y')))));
    const std::vector<AddressRecord> records = all();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Name, QString(45, QChar(u'名')));
    EXPECT_EQ(records[1].Name, QStringLiteral("a") + QString(44, QChar(u'名')) + u' ');
    EXPECT_EQ(records[1].Address, QString(90, QChar(u'y')));
}

TEST_F(AddressBookTest, WritesAndReadsAnyRecordInPlace)
{
    appendThree();
    AddressRecord changed = entry(QStringLiteral("変更"), QStringLiteral("new@example.jp"));
    ASSERT_TRUE(book.WriteRecord(1, changed));
    EXPECT_EQ(book.ReadRecord(1)->Name.trimmed(), QStringLiteral("変更"));
    EXPECT_EQ(book.Count(), 3);
    ASSERT_TRUE(book.WriteRecord(4, changed));
    EXPECT_EQ(book.Count(), 4);
    EXPECT_FALSE(book.WriteRecord(6, changed));
    EXPECT_FALSE(book.MarkDeleted(5));
}

TEST_F(AddressBookTest, TornTailIsIgnoredAndOverwritten)
{
    appendThree();
    writeBytes(book.path(), readBytes(book.path()) + QByteArray(100, 'X'));
    EXPECT_EQ(book.Count(), 3);
    EXPECT_EQ(all().size(), 3u);
    EXPECT_EQ(book.NextRecordNo(), std::int16_t(4));
    ASSERT_TRUE(book.AppendRecord(entry(QStringLiteral("四"), QStringLiteral("4@x"))));
    EXPECT_EQ(QFileInfo(book.path()).size(), 4 * 184);
    EXPECT_EQ(book.ReadRecord(4)->Name.trimmed(), QStringLiteral("四"));
}

TEST_F(AddressBookTest, RefusesTheRecordAfter32767)
{
    ASSERT_TRUE(book.EnsureExists());
    ASSERT_EQ(::truncate(QFile::encodeName(book.path()).constData(), 32767 * 184), 0);
    EXPECT_FALSE(book.NextRecordNo().has_value());
    EXPECT_EQ(book.AppendRecord(entry(QStringLiteral("x"), QStringLiteral("y"))).code(),
              common::ErrorCode::TooManyRecords);
    EXPECT_EQ(QFileInfo(book.path()).size(), 32767 * 184);
}

TEST_F(AddressBookTest, BothSpellingsOfTheFileNameReachOneFile)
{
    // The send path spells it "zrbdata20.data".
    const QString lower = dir.root() + QStringLiteral("/★MAilData/zrbdata20.data");
    writeBytes(lower, entry(QStringLiteral("既存"), QStringLiteral("old@x")).toBytes());
    AddressBookFile resolved = AddressBookFile::addressBook(dir.appDir());
    EXPECT_EQ(resolved.path(), lower);
    ASSERT_TRUE(resolved.AppendRecord(entry(QStringLiteral("新規"), QStringLiteral("new@x"))));
    EXPECT_EQ(QFileInfo(lower).size(), 368);
    EXPECT_EQ(QDir(dir.root() + QStringLiteral("/★MAilData")).entryList(QDir::Files).size(), 1);
}

TEST_F(AddressBookTest, ScratchLeftBesideAMissingBookIsRestored)
{
    appendThree();
    const QByteArray records = readBytes(book.path());
    ASSERT_TRUE(
        QFile::rename(book.path(), dir.root() + QStringLiteral("/★MAilData/ZRBDATA20.TMP")));
    EXPECT_EQ(book.Count(), 3);
    EXPECT_EQ(readBytes(book.path()), records);
}

TEST(ComposeList, IsReadInTheSameLayoutAndNeverCompacted)
{
    test::TempAppDir dir(false);
    AddressBookFile list = AddressBookFile::composeList(dir.appDir());
    EXPECT_EQ(QFileInfo(list.path()).fileName(), QStringLiteral("ZRBASTER20.INI"));
    EXPECT_EQ(list.Count(), 0);
    ASSERT_TRUE(list.EnsureExists());
    EXPECT_TRUE(QFile::exists(list.path()));

    writeBytes(list.path(), entry(QStringLiteral("一"), QStringLiteral("1@x")).toBytes() +
                                entry(QStringLiteral("二"), QStringLiteral("2@x")).toBytes());
    std::vector<QString> names;
    ASSERT_TRUE(list.Enumerate([&](int, const AddressRecord& r) {
        names.push_back(r.Name.trimmed());
        return true;
    }));
    EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("一"), QStringLiteral("二")}));
    EXPECT_FALSE(list.Compact());
}
