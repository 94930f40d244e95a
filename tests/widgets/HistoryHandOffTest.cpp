// Copy, quick save, save as, and the hand-offs to the address book and the reply window.
#include "HistoryTestSupport.h"

#include "addressbook/FriendForm.h"
#include "common/Cp932.h"
#include "compose/BackForm.h"
#include "support/Beyond932.h"

#include <QDir>
#include <QFileInfo>

namespace corvidan::test {
namespace {

using ui::MsgAnswer;

class HistoryHandOff : public HistoryViewerTest {
protected:
    /// Opens the received history on one message and clicks its row.
    void showMessage(const QString& subject, const QString& address, const QString& date, const QString& body)
    {
        store(1, {mail(subject, address, date, body)});
        open(1);
        clickRow(0);
        ui.clear();
    }
    QString quickSaveFolder() const { return QDir::cleanPath(dir.path(common::paths::QuickSaveFolder)); }
    QByteArray quickSaved(const QString& name) const
    {
        QFile f(quickSaveFolder() + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(HistoryHandOff, QuickSaveWritesFourLinesAndShowsThem)
{
    showMessage(QStringLiteral("test"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x"));
    click("Command2");
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(quickSaved(QStringLiteral("test.txt")),
              QByteArray("Subject:  test\r\nFrom:  a\r\nDate:  d\r\nBody:  x\r\n"));
    EXPECT_EQ(paneText(), QStringLiteral("Subject:  test\nFrom:  a\nDate:  d\nBody:  x"));
    EXPECT_EQ(box("Text5")->text(), QString());

    click("Command2");
    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("データが選択されていません")});
}

TEST_F(HistoryHandOff, QuickSaveWritesJapaneseInCodePage932WithTheBodysLineBreaks)
{
    showMessage(QStringLiteral("会議①"), QStringLiteral("山田 <y@example.jp>"), QStringLiteral("12/08"),
                QStringLiteral("一行目\r\n二行目"));
    click("Command2");
    EXPECT_EQ(quickSaved(QStringLiteral("会議①.txt")),
              common::cp932::encode(QStringLiteral(
                  "Subject:  会議①\r\nFrom:  山田 <y@example.jp>\r\nDate:  12/08\r\nBody:  一行目\r\n二行目\r\n")));
}

TEST_F(HistoryHandOff, ExistingFileIsOverwrittenOnlyOnYes)
{
    showMessage(QStringLiteral("test"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x"));
    dir.write(u"\\■TextQuickSave\\test.txt", "previous");
    click("Command2");
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "));
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::YesNo);
    EXPECT_EQ(quickSaved(QStringLiteral("test.txt")), QByteArray("previous"));
    EXPECT_EQ(paneText(), QStringLiteral("x"));

    clickRow(0);
    ui.queueAnswer(MsgAnswer::Yes);
    click("Command2");
    EXPECT_EQ(quickSaved(QStringLiteral("test.txt")),
              QByteArray("Subject:  test\r\nFrom:  a\r\nDate:  d\r\nBody:  x\r\n"));
}

TEST_F(HistoryHandOff, EmptySubjectIsSavedAsDotTxt)
{
    showMessage(QString(), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x"));
    click("Command2");
    EXPECT_EQ(quickSaved(QStringLiteral(".txt")),
              QByteArray("Subject:  \r\nFrom:  a\r\nDate:  d\r\nBody:  x\r\n"));
}

TEST_F(HistoryHandOff, HostileSubjectStaysInsideTheQuickSaveFolder)
{
    showMessage(QStringLiteral("../../escape"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x"));
    click("Command2");
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral(".._.._escape.txt")});
    EXPECT_FALSE(QFileInfo::exists(dir.root() + QStringLiteral("/escape.txt")));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(dir.root()).absolutePath() + QStringLiteral("/escape.txt")));
}

TEST_F(HistoryHandOff, FileThatCannotBeCreatedIsReportedAndChangesNothing)
{
    showMessage(QStringLiteral("test"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x"));
    ASSERT_TRUE(QDir(quickSaveFolder()).removeRecursively());
    click("Command2");
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.startsWith(QStringLiteral("ファイルを作成できませんでした。")));
    EXPECT_EQ(paneText(), QStringLiteral("x"));
}

TEST_F(HistoryHandOff, SaveAsRendersTheMessageAndWritesIt)
{
    showMessage(QStringLiteral("件名"), QStringLiteral("a@x"), QStringLiteral("d"), QStringLiteral("本文"));
    const QString target = dir.root() + QStringLiteral("/chosen.txt");
    ui.queueFileName(target);
    trigger("msave");
    const QString message = QStringLiteral("Subject:  件名\r\nFrom:  a@x\r\nDate:  d\r\nBody:  本文");
    EXPECT_EQ(form->bodyText(), message);
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), common::cp932::encode(message + QStringLiteral("\r\n")));
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("1")) << "save as needs no selection";

    // Cancelling the dialog leaves the pane as it was.
    clickRow(0);
    ui.queueFileName(std::nullopt);
    trigger("msave");
    EXPECT_EQ(form->bodyText(), QStringLiteral("本文"));
}

TEST_F(HistoryHandOff, TextFilesRefuseWhatCodePage932CannotHoldAndKeepThePane)
{
    showMessage(QStringLiteral("件名"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("本文"));
    const QString bound = dir.root() + QStringLiteral("/memo.txt");
    for (const QString& ch : beyondCp932()) {
        const QString typed = QStringLiteral("本文") + ch;
        const auto expectRefused = [&](const char* what) {
            ASSERT_EQ(ui.shown().size(), 1u) << what << ' ' << ch.toStdString();
            EXPECT_TRUE(ui.shown()[0].text.startsWith(u'「' + ch + u'」')) << what;
            EXPECT_EQ(paneText(), typed) << what << ": what was typed stays";
            ui.clear();
        };
        clickRow(0);
        pane()->setPlainText(typed);
        ui.clear();
        click("Command2");
        expectRefused("quick save");
        EXPECT_FALSE(QFileInfo::exists(quickSaveFolder() + QStringLiteral("/件名.txt")));

        // Refused before the file dialog is shown: no name is asked for.
        trigger("msave");
        expectRefused("save as");

        app->state().editor.EditorFileName = bound;
        app->state().editor.EditorModified = true;
        trigger("mnew");
        expectRefused("bound file");
        EXPECT_EQ(app->state().editor.EditorFileName, bound);
        EXPECT_FALSE(QFileInfo::exists(bound));
    }
}

TEST_F(HistoryHandOff, ReplyGetsTrimmedSubjectAddressAndBody)
{
    showMessage(QStringLiteral("word"), QStringLiteral("sender@example.jp"), QStringLiteral("d"), QStringLiteral("line1\r\nline2"));
    box("Text7")->setText(QStringLiteral(" word "));
    box("Text8")->setText(QStringLiteral("  sender@example.jp "));
    click("Command5");
    auto* reply = app->forms().find<compose::BackForm>();
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->isVisible());
    EXPECT_EQ(control<QLineEdit>(reply, QStringLiteral("SubjectText"))->text(), QStringLiteral("Re:  word"));
    EXPECT_EQ(control<QLineEdit>(reply, QStringLiteral("ToText"))->text(), QStringLiteral("sender@example.jp"));
    EXPECT_EQ(reply->bodyText(), QStringLiteral("line1\r\nline2"));
    EXPECT_EQ(box("Text5")->text(), QString());

    click("Command5");
    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("データが選択されていません")});
}

TEST_F(HistoryHandOff, AddressBookGetsTheAddressUntrimmed)
{
    showMessage(QStringLiteral("s"), QStringLiteral("friend@example.jp"), QStringLiteral("d"), QStringLiteral("b"));
    box("Text8")->setText(QStringLiteral(" friend@example.jp "));
    click("Command4");
    auto* book = app->forms().find<addressbook::FriendForm>();
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->isVisible());
    EXPECT_EQ(control<QLineEdit>(book, QStringLiteral("Text4"))->text(), QStringLiteral(" friend@example.jp "));
    EXPECT_EQ(box("Text5")->text(), QString());

    click("Command4");
    EXPECT_EQ(ui.shownTexts(), QStringList{QStringLiteral("データが選択されていません")});
}

TEST_F(HistoryHandOff, CopyPutsTheCopySourceOnTheClipboardEvenWhenEmpty)
{
    open(1);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    click("Command1");
    EXPECT_EQ(clipboardText(), QString());
    box("Text6")->setText(QStringLiteral("値"));
    click("Command1");
    EXPECT_EQ(clipboardText(), QStringLiteral("値"));
}

} // namespace
} // namespace corvidan::test
