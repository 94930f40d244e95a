// A history file whose last record was torn off (a crash or a full disk while
// writing): the viewer lists only the whole records, a new received or sent
// message takes the torn record's place, and deletions keep every whole record.

#include "BadFiles.h"
#include "FilesWindowTest.h"
#include "shell/MainForm.h"
#include "shell/ReceiveHost.h"
#include "widgets/HistoryTestSupport.h"

#include <QFileInfo>

namespace corvidan::test {
namespace {

using badfiles::appendFile;
using badfiles::numberedMail;
using badfiles::readFile;
using ui::MsgAnswer;
using storage::MailRecord;

/// Lengths of a torn last record: inside the subject, just past the header
/// fields, half a record, all but the live flag.
const std::vector<qsizetype> kTornLengths = {1, 150, MailRecord::Size / 2, MailRecord::Size - 2};

class TornHistory : public HistoryViewerTest {
protected:
    /// `count` whole records, then the first `torn` bytes of one more.
    QByteArray writeTorn(int kind, int count, qsizetype torn)
    {
        QFile::remove(history(kind).path());
        for (int i = 1; i <= count; ++i)
            EXPECT_TRUE(history(kind).AppendRecord(numberedMail(tag(kind), i)));
        const QByteArray whole = readFile(history(kind).path());
        MailRecord lost = numberedMail(tag(kind), 99);
        lost.Subject = QStringLiteral("途中で切れた記録");
        appendFile(history(kind).path(), lost.toBytes().left(torn));
        return whole;
    }
    static QString tag(int kind) { return kind == 1 ? QStringLiteral("受") : QStringLiteral("送"); }
    static QString subject(int kind, int i) { return numberedMail(tag(kind), i).Subject; }

    QStringList rows() const
    {
        QStringList out;
        for (int r = 0; r < list()->model()->rowCount(); ++r)
            out << list()->model()->index(r, 0).data().toString().trimmed();
        return out;
    }
    QStringList subjects(int kind) const { return badfiles::historySubjects(history(kind).path()); }
};

TEST_F(TornHistory, EitherHistoryListsOnlyItsWholeRecords)
{
    for (const int kind : {1, 2}) {
        for (const qsizetype torn : kTornLengths) {
            SCOPED_TRACE(testing::Message()
                         << "history " << kind << ", torn record of " << torn << " bytes");
            writeTorn(kind, 3, torn);
            ui.clear();
            open(kind);
            EXPECT_EQ(rows(), (QStringList{subject(kind, 1), subject(kind, 2), subject(kind, 3)}));
            EXPECT_EQ(box("Text2")->text(), QStringLiteral("3"));
            EXPECT_EQ(box("Text7")->text(), subject(kind, 3)) << "the last whole record is shown";
            clickRow(2);
            EXPECT_EQ(box("Text7")->text(), subject(kind, 3));
            EXPECT_EQ(paneText(), QStringLiteral("お世話になっております。\n第3回の資料です。"));
            clickRow(0);
            EXPECT_EQ(box("Text7")->text(), subject(kind, 1));
            EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
        }
    }
}

TEST_F(TornHistory, AReceivedMessageTakesTheTornRecordsPlace)
{
    for (const qsizetype torn : kTornLengths) {
        SCOPED_TRACE(testing::Message() << "torn record of " << torn << " bytes");
        const QByteArray whole = writeTorn(1, 3, torn);
        open(1);
        // The receive as the launcher runs it, the viewer holding each message.
        auto* launcher = app->forms().get<shell::MainForm>();
        badfiles::writeFile(dir.path(common::paths::AccountFile), badfiles::accountFile());
        test::ScriptedMailbox mail = badfiles::mailbox(QStringLiteral("TR"), 1);
        shell::ReceiveHost host(*app, *launcher);
        ui.clear();
        const transport::ReceiveOutcome out =
            transport::ReceiveMail(dir.appDir(), {badfiles::kServer, 0}, mail, host);
        EXPECT_EQ(out.stored, 1);
        EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
        EXPECT_EQ(app->state().CurrentRecordNo, 4);

        const QByteArray after = readFile(history(1).path());
        ASSERT_EQ(after.size(), 4 * MailRecord::Size) << "no torn bytes left behind";
        EXPECT_EQ(after.left(whole.size()), whole) << "the whole records are untouched";
        open(1);
        EXPECT_EQ(rows(), (QStringList{subject(1, 1), subject(1, 2), subject(1, 3),
                                       QStringLiteral("お知らせ [TR-1]")}));
        clickRow(3);
        EXPECT_EQ(box("Text8")->text(), QStringLiteral("山田 花子 <hanako@example.co.jp>"));
    }
}

TEST_F(TornHistory, ASentMessageTakesTheTornRecordsPlace)
{
    const QByteArray whole = writeTorn(2, 2, MailRecord::Size / 3);
    auto* compose = app->forms().get<compose::WriteForm>();
    SendLog log;
    compose->setSenderFactory(RecordingSender::factory(log));
    control<QLineEdit>(compose, QStringLiteral("ToText"))
        ->setText(QStringLiteral("tanaka@example.jp"));
    control<QLineEdit>(compose, QStringLiteral("SubjectText"))->setText(QStringLiteral("お返事"));
    control<QPlainTextEdit>(compose, QStringLiteral("BodyText"))
        ->setPlainText(QStringLiteral("承知しました。"));
    QTest::mouseClick(control<QPushButton>(compose, QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(log.sent.size(), 1u);
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();

    const QByteArray after = readFile(history(2).path());
    ASSERT_EQ(after.size(), 3 * MailRecord::Size);
    EXPECT_EQ(after.left(whole.size()), whole);
    open(2);
    EXPECT_EQ(rows(), (QStringList{subject(2, 1), subject(2, 2), QStringLiteral("お返事")}));
    EXPECT_EQ(box("Text8")->text(), QStringLiteral("tanaka@example.jp"));
}

TEST_F(TornHistory, DeletingOneOrAllKeepsEveryWholeRecord)
{
    for (const int kind : {1, 2}) {
        SCOPED_TRACE(kind);
        // More than half a record: the file length rounds up to one more record.
        const QByteArray whole = writeTorn(kind, 3, MailRecord::Size * 3 / 4);
        open(kind);
        clickRow(1);
        ui.clear();
        ui.queueAnswer(MsgAnswer::Yes);
        click("Command3");
        ASSERT_EQ(ui.shown().size(), 1u) << ui.shownTexts().join(u'\n').toStdString();
        EXPECT_EQ(rows(), (QStringList{subject(kind, 1), subject(kind, 3)}));
        EXPECT_EQ(box("Text2")->text(), QStringLiteral("2"));
        const QByteArray after = readFile(history(kind).path());
        EXPECT_EQ(after, whole.left(MailRecord::Size) + whole.mid(2 * MailRecord::Size))
            << "records 1 and 3 byte for byte, the torn record gone";

        appendFile(history(kind).path(), whole.left(MailRecord::Size - 2));
        open(kind);
        EXPECT_EQ(rows().size(), 2);
        ui.clear();
        ui.queueAnswer(MsgAnswer::Yes);
        click("Command6");
        EXPECT_EQ(ui.shown().size(), 1u) << ui.shownTexts().join(u'\n').toStdString();
        EXPECT_EQ(QFileInfo(history(kind).path()).size(), 0);
        EXPECT_EQ(rows(), QStringList());
        EXPECT_EQ(box("Text2")->text(), QStringLiteral("0"));
        EXPECT_FALSE(QFileInfo::exists(history(kind).scratchPath()));
    }
}

} // namespace
} // namespace corvidan::test
