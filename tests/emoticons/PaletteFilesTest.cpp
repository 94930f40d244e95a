#include "common/Cp932.h"
#include "emoticons/PaletteFiles.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace corvidan;
using emoticons::palettePages;
using emoticons::PageCount;

namespace {

QString folderOf(const test::TempAppDir& dir)
{
    return dir.path(common::paths::PaletteFolder);
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(PaletteFiles, DeliveredFilesRoundTripThroughCp932ByteForByte)
{
    const QString folder = test::sourcePath(QStringLiteral("assets/appdir/顔文字データ"));
    for (const auto& page : palettePages()) {
        const QString name = QString::fromUtf16(page.readName);
        const QByteArray bytes = readBytes(folder + u'/' + name);
        ASSERT_FALSE(bytes.isEmpty()) << name.toStdString();
        const QString text = common::cp932::decode(bytes);
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << name.toStdString();
        int replaced = -1;
        EXPECT_EQ(common::cp932::encode(text, &replaced), bytes) << name.toStdString();
        EXPECT_EQ(replaced, 0) << name.toStdString();
        // Saving what was loaded gives the file back with one more line end.
        EXPECT_EQ(emoticons::paletteFileBytes(text), bytes + "\r\n") << name.toStdString();
        EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n")) << name.toStdString() << ": bare LF";
        EXPECT_TRUE(bytes.endsWith("\r\n")) << name.toStdString();
    }
}

TEST(PaletteFiles, EitherSpellingReachesTheOneExistingFile)
{
    const test::TempAppDir dir;
    const QString folder = folderOf(dir);
    // A file renamed by the user to another letter case is still the page's file.
    ASSERT_TRUE(QFile::rename(folder + QStringLiteral("/Text1.txt"), folder + QStringLiteral("/TEXT1.TXT")));
    EXPECT_EQ(QFileInfo(emoticons::palettePath(dir.appDir(), 1)).fileName(), QStringLiteral("TEXT1.TXT"));
    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 1, u"line"));
    EXPECT_EQ(readBytes(folder + QStringLiteral("/TEXT1.TXT")), QByteArray("line\r\n"));

    // Delivered "Text2.txt" is written through its lower-case name without a twin.
    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 2, u"x"));
    const QStringList names = namesIn(folder);
    EXPECT_EQ(names.filter(QStringLiteral("text2.txt"), Qt::CaseInsensitive).size(), 1);
    EXPECT_EQ(names.filter(QStringLiteral("text1.txt"), Qt::CaseInsensitive).size(), 1);
    EXPECT_EQ(names.size(), PageCount);
    EXPECT_EQ(readBytes(folder + QStringLiteral("/Text2.txt")), QByteArray("x\r\n"));

    // When both spellings exist, reading and writing still meet in one of them.
    QFile(folder + QStringLiteral("/text3.txt")).open(QIODevice::WriteOnly);
    const QString chosen = emoticons::palettePath(dir.appDir(), 3);
    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 3, u"y"));
    EXPECT_EQ(readBytes(chosen), QByteArray("y\r\n"));
    EXPECT_EQ(emoticons::readPalette(dir.appDir(), 3).text, QStringLiteral("y\r\n"));
}

TEST(PaletteFiles, MissingFileOrFolderReadsEmptyAndIsCreatedByTheWrite)
{
    const test::TempAppDir dir;
    ASSERT_TRUE(QDir(folderOf(dir)).removeRecursively());
    const emoticons::LoadedPage missing = emoticons::readPalette(dir.appDir(), 5);
    EXPECT_FALSE(missing.exists);
    EXPECT_FALSE(missing.unreadable);
    EXPECT_TRUE(missing.text.isEmpty());

    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 5, u""));
    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 0, u"(^^)"));
    EXPECT_EQ(namesIn(folderOf(dir)), (QStringList{QStringLiteral("Kao1.txt"), QStringLiteral("text5.txt")}));
    EXPECT_EQ(dir.read(u"\\顔文字データ\\text5.txt"), QByteArray("\r\n"));
    EXPECT_EQ(dir.read(u"\\顔文字データ\\Kao1.txt"), QByteArray("(^^)\r\n"));
}

TEST(PaletteFiles, WriteIsCp932WithCrLfLineEnds)
{
    const test::TempAppDir dir;
    ASSERT_TRUE(emoticons::writePalette(dir.appDir(), 4, QStringLiteral("顔\nａ\r\nb\rc")));
    const QByteArray expected = common::cp932::encode(QStringLiteral("顔\r\nａ\r\nb\r\nc\r\n"));
    EXPECT_EQ(dir.read(u"\\顔文字データ\\text4.txt"), expected);
    EXPECT_FALSE(QFile::exists(emoticons::palettePath(dir.appDir(), 4) + QStringLiteral(".part")));
}

TEST(PaletteFiles, BlanksAreAsciiSpacesOnly)
{
    using emoticons::trimBlanks;
    EXPECT_EQ(trimBlanks(u"  (^^)  "), QStringLiteral("(^^)"));
    EXPECT_EQ(trimBlanks(u" 　(^^)　 "), QStringLiteral("　(^^)　"));
    EXPECT_EQ(trimBlanks(u" \r\n(^^)\r\n "), QStringLiteral("\r\n(^^)\r\n"));
    EXPECT_EQ(trimBlanks(u"\t(^^) "), QStringLiteral("\t(^^)"));
    EXPECT_EQ(trimBlanks(u"    "), QString());
    EXPECT_EQ(trimBlanks(u"a b"), QStringLiteral("a b"));
}

TEST(PaletteFiles, EveryKindOfLineEndBecomesCrLf)
{
    using emoticons::withCrLf;
    EXPECT_EQ(withCrLf(u"a\nb\r\nc\rd"), QStringLiteral("a\r\nb\r\nc\r\nd"));
    EXPECT_EQ(withCrLf(QStringView(u"a\u2029b")), QStringLiteral("a\r\nb"));
    EXPECT_EQ(withCrLf(u"\r\n\r\n"), QStringLiteral("\r\n\r\n"));
    EXPECT_EQ(withCrLf(u"\n\r"), QStringLiteral("\r\n\r\n"));
}
