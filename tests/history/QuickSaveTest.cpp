#include "history/QuickSave.h"

#include "common/Cp932.h"
#include "support/TempAppDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace corvidan;
using history::quickSaveFileName;

namespace {
QString q(const char* utf8) { return QString::fromUtf8(utf8); }
} // namespace

TEST(QuickSaveName, SubjectPlusTxtWhenTheNameIsHarmless)
{
    EXPECT_EQ(quickSaveFileName(q("test")), q("test.txt"));
    EXPECT_EQ(quickSaveFileName(QString()), q(".txt"));
    EXPECT_EQ(quickSaveFileName(q("会議の件 ①")), q("会議の件 ①.txt"));
}

TEST(QuickSaveName, ReplacesCharactersNamesCannotHold)
{
    EXPECT_EQ(quickSaveFileName(q("a\\b/c:d*e?f\"g<h>i|j")), q("a_b_c_d_e_f_g_h_i_j.txt"));
    EXPECT_EQ(quickSaveFileName(q("tab\there\x01")), q("tab_here_.txt"));
    EXPECT_EQ(quickSaveFileName(q("../../etc/passwd")), q(".._.._etc_passwd.txt"));
    EXPECT_EQ(quickSaveFileName(q("..")), q("...txt"));
}

TEST(QuickSaveName, MakesReservedDeviceNamesSafe)
{
    EXPECT_EQ(quickSaveFileName(q("CON")), q("_CON.txt"));
    EXPECT_EQ(quickSaveFileName(q("nul")), q("_nul.txt"));
    EXPECT_EQ(quickSaveFileName(q("com1")), q("_com1.txt"));
    EXPECT_EQ(quickSaveFileName(q("LPT9.log")), q("_LPT9.log.txt"));
    EXPECT_EQ(quickSaveFileName(q("COM0")), q("COM0.txt"));
    EXPECT_EQ(quickSaveFileName(q("CONSOLE")), q("CONSOLE.txt"));
}

TEST(QuickSaveName, LongSubjectsAreCutToFitTheFileSystem)
{
    const QString longSubject = QString(200, QChar(u'あ')) + QString::fromUtf16(u"😀");
    const QString name = quickSaveFileName(longSubject);
    EXPECT_LE(name.toUtf8().size() + 5, 255);
    EXPECT_TRUE(name.endsWith(q(".txt")));
    EXPECT_TRUE(name.startsWith(QString(10, QChar(u'あ'))));
    EXPECT_FALSE(name.at(name.size() - 5).isHighSurrogate());
}

TEST(QuickSavePath, StaysInTheFolderAndMeetsAnExistingNameWhateverItsCase)
{
    test::TempAppDir dir;
    const QString folder = QDir::cleanPath(dir.path(common::paths::QuickSaveFolder));
    const QString path = history::quickSavePath(dir.appDir(), q("../escape"));
    EXPECT_EQ(QFileInfo(path).absolutePath(), folder);

    dir.write(u"\\■TextQuickSave\\Report.TXT", "old");
    EXPECT_EQ(QFileInfo(history::quickSavePath(dir.appDir(), q("report"))).fileName(), q("Report.TXT"));
}

TEST(QuickSaveWrite, MessagePlusCrLfInCodePage932)
{
    test::TempAppDir dir;
    const QString path = history::quickSavePath(dir.appDir(), q("件名"));
    ASSERT_TRUE(history::writeQuickSave(path, q("Subject:  件名\r\nBody:  x")).isOk());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), common::cp932::encode(q("Subject:  件名\r\nBody:  x\r\n")));
}

TEST(QuickSaveWrite, MissingFolderIsAnErrorNotASilentSuccess)
{
    test::TempAppDir dir(false);
    const QString path = history::quickSavePath(dir.appDir(), q("x"));
    EXPECT_FALSE(history::writeQuickSave(path, q("y")).isOk());
    EXPECT_FALSE(QFileInfo::exists(path));
}
