// Deleting one or all records from the history in view.
#include "HistoryTestSupport.h"

#include <QDir>
#include <QFileInfo>

namespace corvidan::test {
namespace {

using ui::MsgAnswer;

class HistoryDeletion : public HistoryViewerTest {
protected:
    QString scratchPath(int kind) const { return history(kind).scratchPath(); }
};

TEST_F(HistoryDeletion, DeletingRowTwoOfThreeKeepsRecordsOneAndThree)
{
    storeNumbered(1, 3);
    open(1);
    clickRow(1);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");

    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::YesNo);
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::Question);
    EXPECT_EQ(app->state().CurrentRecordNo, 2);

    EXPECT_EQ(history(1).RecordCount(), 2);
    EXPECT_EQ(history(1).ReadRecord(1)->Subject.trimmed(), QStringLiteral("subject 1"));
    EXPECT_EQ(history(1).ReadRecord(2)->Subject.trimmed(), QStringLiteral("subject 3"));
    EXPECT_FALSE(QFileInfo::exists(scratchPath(1)));
    ASSERT_EQ(list()->model()->rowCount(), 2);
    EXPECT_EQ(list()->model()->index(1, 0).data().toString().trimmed(), QStringLiteral("subject 3"));
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("2"));
    // After a deletion the header boxes hold the fields as stored, padding kept.
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("subject 3") + QString(100 - 9, u' '));
    EXPECT_EQ(box("Text8")->text().trimmed(), QStringLiteral("from 3"));
    EXPECT_EQ(box("Text8")->text().size(), 90);
    EXPECT_EQ(box("Text9")->text().trimmed(), QStringLiteral("date 3"));
    EXPECT_EQ(paneText(), QStringLiteral("body 3"));
    EXPECT_EQ(clipboardText(), QStringLiteral("body 3"));
    EXPECT_EQ(box("Text5")->text(), QString());
}

TEST_F(HistoryDeletion, DeletingTheOnlyRecordLeavesAnEmptyHistory)
{
    storeNumbered(1, 1);
    open(1);
    clickRow(0);
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    EXPECT_EQ(QFileInfo(history(1).path()).size(), 0);
    EXPECT_EQ(list()->model()->rowCount(), 0);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("0"));
    for (const char* name : {"Text7", "Text8", "Text9"})
        EXPECT_EQ(box(name)->text(), QString()) << name;
    EXPECT_EQ(paneText(), QString());
}

TEST_F(HistoryDeletion, SentHistoryQuestionEndsInAQuestionMark)
{
    storeNumbered(2, 2);
    open(2);
    clickRow(0);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?"));
    EXPECT_EQ(history(2).RecordCount(), 1);
    EXPECT_EQ(history(2).ReadRecord(1)->Subject.trimmed(), QStringLiteral("subject 2"));
    EXPECT_EQ(history(1).RecordCount(), 0);
}

TEST_F(HistoryDeletion, AnsweringNoKeepsTheFileButEmptiesTheBodyPane)
{
    storeNumbered(1, 3);
    open(1);
    clickRow(0);
    const QByteArray before = fileBytes(1);
    click("Command3"); // the script answers No
    EXPECT_EQ(fileBytes(1), before);
    EXPECT_EQ(paneText(), QString());
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("subject 1"));
    EXPECT_EQ(box("Text5")->text(), QString());
    EXPECT_EQ(list()->model()->rowCount(), 3);
}

TEST_F(HistoryDeletion, SecondPressWithoutARowClickAsksForASelection)
{
    storeNumbered(1, 3);
    open(1);
    click("Command3");
    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("データが選択されていません")});
    clickRow(2);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    click("Command3");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[1].text, QStringLiteral("データが選択されていません"));
    EXPECT_EQ(ui.shown()[1].title, ui::UiSeam::applicationTitle());
    EXPECT_EQ(history(1).RecordCount(), 2);
}

TEST_F(HistoryDeletion, ARecordThatChangedUnderTheRowIsNotDeleted)
{
    storeNumbered(1, 3);
    open(1);
    clickRow(1);
    // Another writer (a second window, corvidan-receive) compacts meanwhile: row 2
    // of the list now names what is record 3 of the file.
    storage::HistoryFile other = history(1);
    ASSERT_TRUE(other.MarkDeleted(1));
    ASSERT_TRUE(other.CompactHistory());
    const QByteArray before = fileBytes(1);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    ASSERT_EQ(ui.shown().size(), 2u) << ui.shownTexts().join(u'|').toStdString();
    EXPECT_TRUE(ui.shown()[1].text.contains(QStringLiteral("メールは削除されていません")));
    EXPECT_TRUE(ui.shown()[1].text.contains(QStringLiteral("削除しませんでした")));
    EXPECT_EQ(fileBytes(1), before);

    // After a fresh look a row goes; one selected without a click (the keys) is
    // checked against the list's own header of it.
    open(1);
    clickRow(1);
    list()->selectionModel()->select(list()->model()->index(0, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    ASSERT_EQ(history(1).RecordCount(), 1);
    EXPECT_EQ(history(1).ReadRecord(1)->Subject.trimmed(), QStringLiteral("subject 3"));
}

TEST_F(HistoryDeletion, DeletionActsOnTheRowReachedByTheKeys)
{
    storeNumbered(1, 3);
    open(1);
    clickRow(0);
    QTest::keyClick(list(), Qt::Key_Down);
    ASSERT_EQ(box("Text7")->text(), QStringLiteral("subject 2"));
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    ASSERT_EQ(history(1).RecordCount(), 2);
    EXPECT_EQ(history(1).ReadRecord(1)->Subject.trimmed(), QStringLiteral("subject 1"));
    EXPECT_EQ(history(1).ReadRecord(2)->Subject.trimmed(), QStringLiteral("subject 3"));

    // Answered No, the selection is used up: the highlight goes with the flag.
    clickRow(0);
    ui.queueAnswer(MsgAnswer::No);
    click("Command3");
    EXPECT_EQ(box("Text5")->text(), QString());
    EXPECT_TRUE(list()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(history(1).RecordCount(), 2);
}

TEST_F(HistoryDeletion, DeleteAllOfFiveLeavesAZeroByteFile)
{
    storeNumbered(1, 5);
    open(1);
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command6");
    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("すべてのデータを削除して良いですか？")});
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("確認"));
    // Enter on this question must keep the history.
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::YesNoDefaultNo);
    EXPECT_TRUE(QFileInfo::exists(history(1).path()));
    EXPECT_EQ(QFileInfo(history(1).path()).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(scratchPath(1)));
    EXPECT_EQ(app->state().CurrentRecordNo, 5);
    EXPECT_EQ(list()->model()->rowCount(), 0);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("0"));
    for (const char* name : {"Text7", "Text8", "Text9"})
        EXPECT_EQ(box(name)->text(), QString()) << name;
    EXPECT_EQ(paneText(), QString());
}

TEST_F(HistoryDeletion, DeleteAllAnsweredNoOrOnAnEmptyHistory)
{
    storeNumbered(1, 2);
    open(1);
    clickRow(0);
    const QByteArray before = fileBytes(1);
    click("Command6");
    EXPECT_EQ(fileBytes(1), before);
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("1")) << "delete-all leaves the flag alone";

    // The sent history was never written: its file does not exist yet.
    ASSERT_FALSE(QFile::exists(history(2).path()));
    open(2);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command6");
    EXPECT_EQ(ui.shown().size(), 1u) << "only the question; a missing history is an empty one";
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("0"));
    EXPECT_EQ(history(2).RecordCount(), 0);
    EXPECT_FALSE(QFile::exists(history(2).scratchPath()));
}

TEST_F(HistoryDeletion, FailedCompactionLosesNothingAndSaysSo)
{
    storeNumbered(1, 3);
    open(1);
    const QByteArray before = fileBytes(1);
    // A folder where the scratch file must go makes the compaction fail.
    ASSERT_TRUE(QDir().mkpath(scratchPath(1)));
    clickRow(1);
    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command3");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_TRUE(ui.shown()[1].text.startsWith(QStringLiteral("履歴ファイルを更新できませんでした。")));
    EXPECT_EQ(fileBytes(1), before);
    EXPECT_EQ(list()->model()->rowCount(), 3);

    ui.clear();
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command6");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(fileBytes(1), before);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("3"));
}

} // namespace
} // namespace corvidan::test
