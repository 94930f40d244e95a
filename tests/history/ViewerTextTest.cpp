#include "history/ViewerText.h"

#include <gtest/gtest.h>

using namespace corvidan::history;

namespace {
QString q(const char* utf8) { return QString::fromUtf8(utf8); }
} // namespace

TEST(ViewerLineEnds, PaneHoldsNewlinesFilesHoldCrLf)
{
    EXPECT_EQ(toPaneText(q("a\r\nb\rc\nd")), q("a\nb\nc\nd"));
    EXPECT_EQ(toFileText(q("a\nb\n")), q("a\r\nb\r\n"));
    // A CR LF that slipped into the pane must not double its CR on the way out.
    EXPECT_EQ(toFileText(q("a\r\nb")), q("a\r\nb"));
    EXPECT_EQ(toFileText(toPaneText(q("本文\r\n二行目\r\n"))), q("本文\r\n二行目\r\n"));
}

TEST(ViewerTrim, RemovesOnlySurroundingBlanks)
{
    EXPECT_EQ(trimBlanks(q("  x y  ")), q("x y"));
    EXPECT_EQ(trimBlanks(q("\r\n x \r\n")), q("\r\n x \r\n"));
    EXPECT_EQ(trimBlanks(q("   ")), QString());
    EXPECT_EQ(trimBlanks(q("　全角　")), q("　全角　"));
}

TEST(ViewerMessageText, FourLabelledLinesWithoutFinalLineEnd)
{
    EXPECT_EQ(MessageAsText(q("test"), q("a"), q("d"), q("x")),
              q("Subject:  test\r\nFrom:  a\r\nDate:  d\r\nBody:  x"));
    EXPECT_EQ(MessageAsText({}, {}, {}, q("l1\r\nl2")),
              q("Subject:  \r\nFrom:  \r\nDate:  \r\nBody:  l1\r\nl2"));
}

TEST(ViewerFileLines, EveryLineEndedOnceWhateverTheFileEndsWith)
{
    EXPECT_EQ(splitFileLines(q("one\r\ntwo")), (QStringList{q("one"), q("two")}));
    EXPECT_EQ(splitFileLines(q("one\r\ntwo\r\n")), (QStringList{q("one"), q("two")}));
    EXPECT_EQ(splitFileLines(q("a\rb\nc")), (QStringList{q("a"), q("b"), q("c")}));
    EXPECT_EQ(splitFileLines(q("\r\n\r\n")), (QStringList{QString(), QString()}));
    EXPECT_TRUE(splitFileLines(QString()).isEmpty());
    EXPECT_EQ(paneTextFromFile(q("一行目\r\n二行目")), q("一行目\n二行目\n"));
    EXPECT_EQ(paneTextFromFile(QString()), QString());
}

TEST(ViewerFind, FollowsInStrRules)
{
    const QString text = q("abcabc");
    EXPECT_EQ(findPosition(text, q("b"), 1), 2);
    EXPECT_EQ(findPosition(text, q("b"), 3), 5);
    EXPECT_EQ(findPosition(text, q("b"), 6), 0);
    EXPECT_EQ(findPosition(text, q("B"), 1), 0);
    EXPECT_EQ(findPosition(q("ａｂ"), q("b"), 1), 0);
    EXPECT_EQ(findPosition(text, QString(), 1), 1);
    EXPECT_EQ(findPosition(text, QString(), 7), 0);
    EXPECT_EQ(findPosition(QString(), QString(), 1), 0);
    EXPECT_EQ(findPosition(text, q("c"), 0), 3);
}

TEST(ViewerFind, NextStartsPastTheMatchAndAfterAMissAtTheNeedleLength)
{
    EXPECT_EQ(findNextStart(2, q("b")), 3);
    EXPECT_EQ(findNextStart(0, q("b")), 1);
    EXPECT_EQ(findNextStart(0, q("ab")), 2);
    EXPECT_EQ(findNextStart(0, QString()), 1);
    // Walking "abcabc" for "b": 2, 5, then nothing, then from the top again.
    const QString text = q("abcabc");
    int pos = findPosition(text, q("b"), 1);
    std::vector<int> seen{pos};
    for (int i = 0; i < 3; ++i) {
        pos = findPosition(text, q("b"), findNextStart(pos, q("b")));
        seen.push_back(pos);
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 5, 0, 2}));
}

TEST(ViewerNewFile, KeepsTheFolderPartOrAppendsToABareName)
{
    const QString home = q("/opt/app/data");
    EXPECT_EQ(newEditorFileName(q("C:\\docs\\memo.txt"), home), q("C:\\docs\\新規作成.TXT"));
    EXPECT_EQ(newEditorFileName(q("/home/u/memo.txt"), home), q("/home/u/新規作成.TXT"));
    EXPECT_EQ(newEditorFileName(q("memo"), home), q("memo新規作成.TXT"));
}

TEST(ViewerNewFile, WithNoFileBoundGoesIntoTheHomeFolderNeverTheWorkingFolder)
{
    EXPECT_EQ(newEditorFileName(QString(), q("/opt/app/data")), q("/opt/app/data/新規作成.TXT"));
    EXPECT_EQ(newEditorFileName(QString(), q("/opt/app/data/")), q("/opt/app/data/新規作成.TXT"));
}
