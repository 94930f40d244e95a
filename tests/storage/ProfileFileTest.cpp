#include "storage/ProfileFile.h"

#include "StorageTestUtil.h"
#include "common/Cp932.h"
#include "support/Beyond932.h"
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

TEST_F(ProfileFileTest, LoneCrLineEndsAreLinesAndStayLoneCr)
{
    // Saved by an editor that ends lines with CR alone.
    writeBytes(path, "; account\r[EXEINI]\rNAME=taro\rNAME2=secret\r[Tail]\rx=y\r");
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("taro"));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("secret"));

    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("new")));
    ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("1")));
    EXPECT_EQ(readBytes(path),
              QByteArray("; account\r[EXEINI]\rNAME=taro\rNAME2=new\rNAME3=1\r[Tail]\rx=y\r"));

    // A last line without its end gets one of the file's kind before a new section.
    writeBytes(path, "[Other]\rA=1");
    ASSERT_TRUE(write(QStringLiteral("NAME"), QStringLiteral("u")));
    EXPECT_EQ(readBytes(path), QByteArray("[Other]\rA=1\r[EXEINI]\rNAME=u\r"));
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("u"));
}

TEST_F(ProfileFileTest, AddedKeyInFileOfMixedLineEndsKeepsTheEmptyLinesAfterIt)
{
    // A lone CR before an LF-only empty line would read back as one CR LF line end.
    writeBytes(path, "[Other]\r[EXEINI]\rNAME=a\n\n\nNAME2=b\r\n");
    ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("c")));
    EXPECT_EQ(readBytes(path), QByteArray("[Other]\r[EXEINI]\rNAME=a\n\n\nNAME2=b\r\nNAME3=c\r\n"));
    writeBytes(path, "[Other]\r[EXEINI]\rNAME=a\n\n");
    ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("c")));
    EXPECT_EQ(readBytes(path), QByteArray("[Other]\r[EXEINI]\rNAME=a\nNAME3=c\n\n"));
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("a"));
    EXPECT_EQ(read(QStringLiteral("NAME3")), QStringLiteral("c"));
}

TEST_F(ProfileFileTest, Utf8WithByteOrderMarkIsReadAndWrittenAsUtf8)
{
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray handEdited =
        bom + QStringLiteral("[EXEINI]\r\n; 利用者\r\nNAME=山田太郎\r\nNAME2=ひみつ\r\n").toUtf8();
    writeBytes(path, handEdited);
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("山田太郎"));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("ひみつ"));

    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("合言葉①")));
    ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("1")));
    QByteArray expected = handEdited;
    expected.replace(QStringLiteral("NAME2=ひみつ\r\n").toUtf8(),
                     QStringLiteral("NAME2=合言葉①\r\nNAME3=1\r\n").toUtf8());
    EXPECT_EQ(readBytes(path), expected) << "the mark, the comment and the other key kept";
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("合言葉①"));

    // The mark alone before the section header still lets it be found.
    writeBytes(path, bom + "[EXEINI]\nNAME=a\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("a"));
}

TEST_F(ProfileFileTest, Utf8WithoutMarkIsRecognisedAndCodePage932StaysByteExact)
{
    // Hiragana and kanji in UTF-8: never valid code page 932 text in practice.
    const QByteArray utf8 = QStringLiteral("[EXEINI]\r\nNAME=すずき\r\nNAME2=pw\r\n").toUtf8();
    writeBytes(path, utf8);
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("すずき"));
    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("秘密")));
    EXPECT_EQ(readBytes(path),
              QStringLiteral("[EXEINI]\r\nNAME=すずき\r\nNAME2=秘密\r\n").toUtf8());

    // Half-width katakana pairs in code page 932 can look like two-byte UTF-8
    // ("ﾃｽ" is C3 BD, UTF-8 "ý"); they stay code page 932, as does any kana or kanji.
    for (const QString& value :
         {QStringLiteral("ﾃｽ"), QStringLiteral("ﾃｽﾄ山"), QStringLiteral("①ゾーン")}) {
        SCOPED_TRACE(value.toStdString());
        const QByteArray cp932 = "[EXEINI]\r\nNAME=" + common::cp932::encode(value) + "\r\n";
        writeBytes(path, cp932);
        EXPECT_EQ(storage::SettingsEncodingOf(cp932), storage::SettingsEncoding::Cp932);
        EXPECT_EQ(read(QStringLiteral("NAME")), value);
        ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("パス")));
        EXPECT_EQ(readBytes(path),
                  cp932 + "NAME2=" + common::cp932::encode(QStringLiteral("パス")) + "\r\n");
    }

    // Ill-formed UTF-8 (over-long forms, surrogates, a cut sequence) is no UTF-8.
    for (const QByteArray& bytes :
         {QByteArray("A=\xC0\x80\xE3\x81\x82"), QByteArray("A=\xED\xA0\x80\xE3\x81\x82"),
          QByteArray("A=\xE3\x81\x82\xE3\x81"), QByteArray("A=\xF5\x80\x80\x80\xE3\x81\x82")}) {
        EXPECT_EQ(storage::SettingsEncodingOf(bytes), storage::SettingsEncoding::Cp932)
            << bytes.toHex().constData();
    }
    EXPECT_EQ(storage::SettingsEncodingOf(QByteArray("plain ascii\r\n")),
              storage::SettingsEncoding::Cp932);
    EXPECT_EQ(storage::SettingsEncodingOf(QByteArray("A=\xF0\x9F\x93\xA7")),
              storage::SettingsEncoding::Utf8);
    EXPECT_EQ(storage::SettingsEncodingOf(QByteArray("\xEF\xBB\xBF")),
              storage::SettingsEncoding::Utf8WithBom);
}

TEST_F(ProfileFileTest, Utf8ValuesAreCutLikeTheirCodePage932Form)
{
    // 200 kanji are 400 bytes in code page 932 (600 in UTF-8): 127 whole ones fit 255 bytes.
    writeBytes(path,
               "\xEF\xBB\xBF[EXEINI]\r\nNAME=" + QString(200, QChar(u'漢')).toUtf8() + "\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QString(127, QChar(u'漢')));
    writeBytes(path, "[EXEINI]\r\nNAME=a" + QString(200, QChar(u'漢')).toUtf8() + "\r\n");
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("a") + QString(127, QChar(u'漢')));
}

TEST_F(ProfileFileTest, AValueWhoseCodePage932FormLooksLikeUtf8ReadsBackAsWritten)
{
    // "鬮ｪ" is E9 AB AA in code page 932, the UTF-8 form of "髪".
    writeBytes(path, "[EXEINI]\r\nNAME=taro\r\n");
    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("鬮ｪ")));
    EXPECT_EQ(read(QStringLiteral("NAME2")), QStringLiteral("鬮ｪ"));
    EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("taro"));
    EXPECT_TRUE(readBytes(path).startsWith("\xEF\xBB\xBF[EXEINI]\r\nNAME=taro\r\n"));

    // Everything else stays code page 932, byte for byte.
    writeBytes(path, "[EXEINI]\r\nNAME=taro\r\n");
    ASSERT_TRUE(write(QStringLiteral("NAME2"), QStringLiteral("山田")));
    EXPECT_EQ(readBytes(path), QByteArray("[EXEINI]\r\nNAME=taro\r\nNAME2=") +
                                   common::cp932::encode(QStringLiteral("山田")) + "\r\n");
}

TEST_F(ProfileFileTest, ValuesCodePage932CannotHoldTurnTheFileIntoMarkedUtf8)
{
    for (const QString& c : test::beyondCp932()) {
        writeBytes(path, "[EXEINI]\r\nNAME=" + common::cp932::encode(u"山田ｶﾅ") + "\r\n");
        const QString password = QStringLiteral("pa") + c + QStringLiteral("ss");
        ASSERT_TRUE(write(QStringLiteral("NAME2"), password));
        EXPECT_EQ(read(QStringLiteral("NAME2")), password) << c.toStdString();
        EXPECT_EQ(read(QStringLiteral("NAME")), QStringLiteral("山田ｶﾅ")) << "the others kept";
        EXPECT_EQ(readBytes(path), "\xEF\xBB\xBF[EXEINI]\r\nNAME=" + QStringLiteral("山田ｶﾅ").toUtf8() +
                                       "\r\nNAME2=" + password.toUtf8() + "\r\n");
        // Later writes keep the marked form.
        ASSERT_TRUE(write(QStringLiteral("NAME3"), QStringLiteral("1")));
        EXPECT_EQ(read(QStringLiteral("NAME2")), password);
    }
    // Even as a value's first character: U+FEFF there (a password pasted from a file
    // that began with a byte order mark) is part of the value, not a mark.
    const QString pasted = QChar(0xFEFF) + QStringLiteral("pass");
    ASSERT_TRUE(write(QStringLiteral("NAME2"), pasted));
    EXPECT_EQ(read(QStringLiteral("NAME2")), pasted);
    // A new file starts marked, without an empty first line.
    QFile::remove(path);
    ASSERT_TRUE(write(QStringLiteral("NAME"), test::mixedBeyondCp932()));
    EXPECT_EQ(read(QStringLiteral("NAME")), test::mixedBeyondCp932());
    EXPECT_TRUE(readBytes(path).startsWith("\xEF\xBB\xBF[EXEINI]\r\n"));
}
