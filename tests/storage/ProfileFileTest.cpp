#include "storage/ProfileFile.h"

#include "StorageTestUtil.h"
#include "common/Cp932.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace corvidan;
using storage::ReadProfileString;
using storage::WriteProfileString;
using test::readBytes;
using test::writeBytes;

namespace {

const QString kSection = QStringLiteral("EXEINI");

class ProfileFileTest : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    QString path = dir.path(common::paths::AccountFile);

    QString read(const QString& key) const { return ReadProfileString(path, kSection, key); }
    bool write(const QString& key, const QString& value)
    {
        return WriteProfileString(path, kSection, key, value).isOk();
    }
};

} // namespace

TEST_F(ProfileFileTest, MissingFileSectionOrKeyReadsEmpty)
{
    EXPECT_EQ(read(QStringLiteral("NAME")), QString());
    writeBytes(path, "[OTHER]\r\nNAME=x\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QString());
    writeBytes(path, "[EXEINI]\r\nNAME2=x\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QString());
}

TEST_F(ProfileFileTest, CreatesAPrivateFileWithTheSection)
{
    ASSERT_TRUE(write(QStringLiteral("NAME"), QStringLiteral("user")));
    EXPECT_EQ(readBytes(path), QByteArray("[EXEINI]\r\nNAME=user\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A file edited by hand keeps the mode its owner gave it.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("pw")));
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part")));
    // The account file went into the one data folder, whatever its spelling.
    EXPECT_EQ(QDir(dir.root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("★MAilData")});
}

TEST_F(ProfileFileTest, MatchesSectionAndKeyIgnoringCaseAndTrimsBlanks)
{
    writeBytes(path, "[exeIni]\r\n  Name  =  user one  \r\nname2=\"quoted pw\"\r\nNAME3='0\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("user one"));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("quoted pw"));
    EXPECT_EQ(read(QStringLiteral("name3")), QStringLiteral("'0"));
}

TEST_F(ProfileFileTest, FirstSectionAndFirstKeyWin)
{
    writeBytes(path,
               "[EXEINI]\r\nNAME=one\r\nNAME=two\r\n[EXEINI]\r\nNAME=three\r\nNAME2=four\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("one"));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QString());
}

TEST_F(ProfileFileTest, WritingOneKeyKeepsEveryOtherLineByteForByte)
{
    const QByteArray handEdited = "; account of the mail client\r\n"
                                  "\r\n"
                                  "[Other]\r\n"
                                  "Name=not this one\r\n"
                                  "\r\n"
                                  "[exeini]\r\n"
                                  "  NaMe = old user\r\n"
                                  ";NAME2=commented out\r\n"
                                  "Name2=secret\r\n"
                                  "\r\n"
                                  "[Tail]\r\n"
                                  "x = y\r\n";
    writeBytes(path, handEdited);

    ASSERT_TRUE(write(QStringLiteral("NAME"), QStringLiteral("新しい利用者")));
    QByteArray expected = handEdited;
    expected.replace("  NaMe = old user",
                     "NaMe=" + common::cp932::encode(QStringLiteral("新しい利用者")));
    EXPECT_EQ(readBytes(path), expected);

    // A key the section lacks goes after its last line, before the blank line.
    ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("0")));
    expected.replace("Name2=secret\r\n", "Name2=secret\r\nNAME3=0\r\n");
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("新しい利用者"));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("secret"));
    EXPECT_EQ(ReadProfileString(path, QStringLiteral("OTHER"), QStringLiteral("NAME")),
              QStringLiteral("not this one"));
}

TEST_F(ProfileFileTest, AddsAMissingSectionAtTheEndKeepingTheFilesLineEnds)
{
    writeBytes(path, "[Other]\nA=1");
    ASSERT_TRUE(write(QStringLiteral("NAME"), QStringLiteral("u")));
    EXPECT_EQ(readBytes(path), QByteArray("[Other]\nA=1\n[EXEINI]\nNAME=u\n"));

    writeBytes(path, "[EXEINI]");
    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("p")));
    EXPECT_EQ(readBytes(path), QByteArray("[EXEINI]\r\nNAME2=p\r\n"));
}

TEST_F(ProfileFileTest, ValuesReadBackCutTo255BytesOfWholeCharacters)
{
    const QString password = QString(300, QChar(u'p'));
    ASSERT_TRUE(write(QStringLiteral("NAME2"), password));
    EXPECT_EQ(read(QStringLiteral("NAME2")), password.left(255));
    EXPECT_EQ(readBytes(path).size(), qsizetype(QByteArray("[EXEINI]\r\nNAME2=\r\n").size() + 300));

    ASSERT_TRUE(write(QStringLiteral("NAME"), QString(200, QChar(u'漢'))));
    EXPECT_EQ(read(QStringLiteral("NAME")), QString(127, QChar(u'漢')));
    ASSERT_TRUE(write(QStringLiteral("NAME"), QStringLiteral("a") + QString(200, QChar(u'漢'))));
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("a") + QString(127, QChar(u'漢')));
}

TEST_F(ProfileFileTest, UncheckedSaveKeepsTheEarlierAccount)
{
    ASSERT_TRUE(storage::WriteAccountValue(dir.appDir(), QStringLiteral("NAME"),
                                           QStringLiteral("ユーザー①")));
    ASSERT_TRUE(
        storage::WriteAccountValue(dir.appDir(), QStringLiteral("NAME2"), QStringLiteral("ｿﾞｳ～")));
    ASSERT_TRUE(
        storage::WriteAccountValue(dir.appDir(), QStringLiteral("NAME3"), QStringLiteral("1")));
    ASSERT_TRUE(
        storage::WriteAccountValue(dir.appDir(), QStringLiteral("NAME3"), QStringLiteral("0")));
    EXPECT_EQ(storage::ReadAccountValue(dir.appDir(), QStringLiteral("NAME")),
              QStringLiteral("ユーザー①"));
    EXPECT_EQ(storage::ReadAccountValue(dir.appDir(), QStringLiteral("NAME2")),
              QStringLiteral("ｿﾞｳ～"));
    EXPECT_EQ(storage::ReadAccountValue(dir.appDir(), QStringLiteral("NAME3")),
              QStringLiteral("0"));
    EXPECT_EQ(readBytes(path), QByteArray("[EXEINI]\r\nNAME=") +
                                   common::cp932::encode(QStringLiteral("ユーザー①")) +
                                   "\r\nNAME2=" + common::cp932::encode(QStringLiteral("ｿﾞｳ～")) +
                                   "\r\nNAME3=0\r\n");
}

TEST_F(ProfileFileTest, SectionNamesWithDoubleByteCharactersAreMatchedAsText)
{
    // In code page 932 "ゾ" ends in the byte of ']' and "ー" in the byte of '['.
    const QString section = QStringLiteral("ゾーン");
    ASSERT_TRUE(WriteProfileString(path, section, QStringLiteral("キー"), QStringLiteral("値")));
    EXPECT_EQ(ReadProfileString(path, section, QStringLiteral("キー")), QStringLiteral("値"));
    ASSERT_TRUE(WriteProfileString(path, section, QStringLiteral("キー"), QStringLiteral("次")));
    EXPECT_EQ(ReadProfileString(path, section, QStringLiteral("キー")), QStringLiteral("次"));
    EXPECT_EQ(readBytes(path), QByteArray("[") + common::cp932::encode(section) + "]\r\n" +
                                   common::cp932::encode(QStringLiteral("キー=次")) + "\r\n");
}
