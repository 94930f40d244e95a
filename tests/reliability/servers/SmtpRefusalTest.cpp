// The compose window's send against an SMTP server that refuses the recipient,
// the sender or the message: one "送信エラー" box in Japanese carrying the
// server's reply, the sent record kept, nothing else lost or sent.

#include "compose/WriteForm.h"
#include "shell/Application.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/Servers.h"
#include "support/TempAppDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QUuid>
#include <gtest/gtest.h>
#include <iostream>

using namespace corvidan;
using compose::WriteForm;
using test::control;

namespace {

class SmtpRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(env.value(QStringLiteral("SMTP_PLAIN_PORT")).isEmpty()) << "the smtp fixture did not run";
        app.state().server.SmtpServer = QStringLiteral("127.0.0.1:") + env.value(QStringLiteral("SMTP_PLAIN_PORT"));
        app.state().server.MailAddress = address(QStringLiteral("sender"));
        // Earlier mail and the address book: a refused send must leave them alone.
        storage::MailRecord earlier;
        earlier.Subject = QStringLiteral("先週の議事録");
        earlier.Address = QStringLiteral("kacho@example.co.jp");
        earlier.Date = QStringLiteral("2026/12/01  10:00:00");
        earlier.Body = QStringLiteral("先週の議事録をお送りします。");
        ASSERT_TRUE(sent().AppendRecord(earlier));
        storage::AddressRecord friendRecord;
        friendRecord.Name = QStringLiteral("山田 花子");
        friendRecord.Address = address(QStringLiteral("hanako"));
        ASSERT_TRUE(storage::AddressBookFile::addressBook(tmp.appDir()).AppendRecord(friendRecord));
        sentBefore = readFile(sent().path());
        bookBefore = readFile(storage::AddressBookFile::addressBook(tmp.appDir()).path());
        form = app.forms().get<WriteForm>();
    }

    QString address(const QString& local) const { return local + u'@' + tag + QStringLiteral(".example.jp"); }
    storage::HistoryFile sent() const { return storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent); }
    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <class T>
    T* c(const char* name)
    {
        return control<T>(form, QString::fromLatin1(name));
    }

    void write(const QString& to, const QString& subject, const QString& body)
    {
        c<QLineEdit>("ToText")->setText(to);
        c<QLineEdit>("SubjectText")->setText(subject);
        c<QPlainTextEdit>("BodyText")->setPlainText(body);
    }
    void send()
    {
        c<QPushButton>("Command1")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    /// Recipients of the messages of this test that the server accepted.
    QStringList delivered() const
    {
        QStringList recipients;
        QDir spool(env.value(QStringLiteral("SPOOL_DIR")));
        for (const QString& json : spool.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            const QJsonObject o = QJsonDocument::fromJson(readFile(spool.filePath(json))).object();
            for (const QJsonValue& r : o.value(QStringLiteral("rcpt_tos")).toArray())
                if (r.toString().contains(tag))
                    recipients << r.toString();
        }
        return recipients;
    }

    /// Exactly one box, in Japanese, holding the server's reply: "送信エラー" for one
    /// message, "送信結果" ending a bulk send.
    void expectOneSendError(const QString& reply, const QString& title = QStringLiteral("送信エラー"))
    {
        ASSERT_EQ(ui.shown().size(), 1u) << ui.shownTexts().join(u'|').toStdString();
        const auto& box = ui.shown()[0];
        EXPECT_EQ(box.title, title);
        EXPECT_TRUE(box.text.contains(reply)) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QRegularExpression(QStringLiteral("[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]"))))
            << "not Japanese: " << box.text.toStdString();
        std::cout << "  [" << box.title.toStdString() << "] " << box.text.toStdString() << '\n';
    }

    /// The new sent records follow the earlier ones, which are untouched, as is the address book.
    void expectRecordsKept(int newRecords, const QString& subject)
    {
        const QByteArray now = readFile(sent().path());
        EXPECT_EQ(now.size(), (1 + newRecords) * storage::MailRecord::Size);
        EXPECT_EQ(now.left(storage::MailRecord::Size), sentBefore.left(storage::MailRecord::Size));
        for (int n = 2; n <= 1 + newRecords; ++n)
            EXPECT_EQ(sent().ReadRecord(n)->Subject.trimmed(), subject);
        EXPECT_EQ(readFile(storage::AddressBookFile::addressBook(tmp.appDir()).path()), bookBefore);
    }
    /// A single refused message leaves no sent record and its window open with it.
    void expectRefusedMessageKept(const QString& subject)
    {
        expectRecordsKept(0, subject);
        ASSERT_FALSE(form.isNull()) << "the compose window closed and lost the message";
        EXPECT_EQ(c<QLineEdit>("SubjectText")->text(), subject);
    }

    QHash<QString, QString> env = test::readEnvFile(test::serverStateDir() + QStringLiteral("/smtp.env"));
    test::TempAppDir tmp;
    test::ScriptedUi ui;
    shell::Application app{tmp.appDir(), ui};
    QPointer<WriteForm> form;
    QString tag = QStringLiteral("r") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    QByteArray sentBefore;
    QByteArray bookBefore;
};

} // namespace

TEST_F(SmtpRefusal, RefusedRecipient)
{
    write(QStringLiteral("reject-rcpt@") + tag + QStringLiteral(".example.jp"), QStringLiteral("お見積りの件"),
          QStringLiteral("田中様\nお見積りをお送りします。"));
    send();
    expectOneSendError(QStringLiteral("550 5.1.1"));
    expectRefusedMessageKept(QStringLiteral("お見積りの件"));
    EXPECT_TRUE(delivered().isEmpty());
}

TEST_F(SmtpRefusal, RefusedSender)
{
    app.state().server.MailAddress = QStringLiteral("reject-from@") + tag + QStringLiteral(".example.jp");
    write(address(QStringLiteral("to")), QStringLiteral("差出人の確認"), QStringLiteral("本文です。"));
    send();
    expectOneSendError(QStringLiteral("553 5.7.1"));
    expectRefusedMessageKept(QStringLiteral("差出人の確認"));
    EXPECT_TRUE(delivered().isEmpty());
}

TEST_F(SmtpRefusal, RefusedMessageData)
{
    write(address(QStringLiteral("to")), QStringLiteral("内容で拒否されるメール"),
          QStringLiteral("この本文には X-Corvidan-Reject-Data が含まれています。"));
    send();
    expectOneSendError(QStringLiteral("554 5.7.1"));
    expectRefusedMessageKept(QStringLiteral("内容で拒否されるメール"));
    EXPECT_TRUE(delivered().isEmpty());
}

TEST_F(SmtpRefusal, BulkSendReportsTheRefusedRecipientAndDeliversTheOthers)
{
    storage::AddressBookFile book = storage::AddressBookFile::addressBook(tmp.appDir());
    storage::AddressRecord refused;
    refused.Name = QStringLiteral("存在しない人");
    refused.Address = QStringLiteral("reject-rcpt@") + tag + QStringLiteral(".example.jp");
    ASSERT_TRUE(book.AppendRecord(refused));
    storage::AddressRecord last;
    last.Name = QStringLiteral("佐藤 一郎");
    last.Address = address(QStringLiteral("ichiro"));
    ASSERT_TRUE(book.AppendRecord(last));
    bookBefore = readFile(book.path());
    c<QPushButton>("Command4")->click(); // fills the address list
    c<QRadioButton>("Option2")->click();
    write(QString(), QStringLiteral("忘年会のお知らせ"), QStringLiteral("皆様\n忘年会を開催します。"));
    send();

    expectOneSendError(QStringLiteral("550 5.1.1"), QStringLiteral("送信結果"));
    EXPECT_TRUE(ui.shown()[0].text.startsWith(QStringLiteral("2件送信しました。"))) << ui.shown()[0].text.toStdString();
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("reject-rcpt@")));
    expectRecordsKept(3, QStringLiteral("忘年会のお知らせ"));
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(delivered(), (QStringList{address(QStringLiteral("hanako")), address(QStringLiteral("ichiro"))}));
}
