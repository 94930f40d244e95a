#include "ShellTestSupport.h"

#include "settings/CheckForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "storage/ProfileFile.h"
#include "support/Beyond932.h"
#include "support/Controls.h"
#include "support/LoopbackPort.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

namespace corvidan::test {
namespace {

using settings::CheckForm;
using settings::IdPassForm;
using settings::OptionForm;
using settings::SetForm;

const QByteArray kServerFile("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\n"
                             "APOP=0\r\n");
const QByteArray kAccountFile("[EXEINI]\r\nNAME=stored-id\r\nNAME2=stored-pass\r\nNAME3=1\r\n");

class SettingsDialogs : public LauncherTest {
protected:
    void SetUp() override { start(kServerFile); }

    /// Opens a dialog the way the user does: 設定 on the launcher, then a button.
    template <class Form>
    Form* openFromHub(const char* button)
    {
        settle(); // the event loop runs between two user actions
        QTest::mouseClick(control<QLabel>(launcher, QStringLiteral("Label11")), Qt::LeftButton);
        auto* hub = app->forms().find<SetForm>();
        EXPECT_NE(hub, nullptr);
        if (!hub)
            return nullptr;
        control<QPushButton>(hub, QString::fromLatin1(button))->click();
        Form* form = app->forms().find<Form>();
        EXPECT_NE(form, nullptr);
        if (form) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
        }
        return form;
    }
    OptionForm* openServerDialog() { return openFromHub<OptionForm>("Command2"); }
    IdPassForm* openAccountDialog() { return openFromHub<IdPassForm>("Command1"); }

    static QLineEdit* edit(QWidget* form, const char* name)
    {
        return control<QLineEdit>(form, QString::fromLatin1(name));
    }
    static QCheckBox* check(QWidget* form, const char* name)
    {
        return control<QCheckBox>(form, QString::fromLatin1(name));
    }
    static void press(QWidget* form, const char* name)
    {
        control<QPushButton>(form, QString::fromLatin1(name))->click();
    }
    QString stored(const char* key)
    {
        return storage::ReadAccountValue(dir.appDir(), QString::fromLatin1(key));
    }
};

TEST_F(SettingsDialogs, HubAndDialogsCarryTheirCaptions)
{
    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    auto* hub = app->forms().find<SetForm>();
    EXPECT_EQ(hub->windowTitle(), QStringLiteral("設定"));
    EXPECT_EQ(control<QPushButton>(hub, QStringLiteral("Command1"))->text(), QStringLiteral("ID/PASS"));
    EXPECT_EQ(control<QPushButton>(hub, QStringLiteral("Command2"))->text(),
              QStringLiteral("POPサーバー"));

    EXPECT_EQ(server->windowTitle(), QStringLiteral("サーバー設定"));
    EXPECT_TRUE(server->windowFlags() & Qt::WindowStaysOnTopHint);
    const std::pair<const char*, const char16_t*> labels[] = {
        {"Label1", u"SMTPサーバー名(&S)"}, {"Label2", u"POP3サーバー名(&P)"},
        {"Label3", u"メールアドレス(&M)"}};
    for (const auto& [name, caption] : labels)
        EXPECT_EQ(control<QLabel>(server, QString::fromLatin1(name))->text(),
                  QString::fromUtf16(caption));
    EXPECT_EQ(control<QLabel>(server, QStringLiteral("Label1"))->buddy(), edit(server, "SmtpText"));
    EXPECT_EQ(check(server, "ApopCheck")->text(), QStringLiteral("APOP を使用する(&A)"));
    EXPECT_EQ(control<QPushButton>(server, QStringLiteral("OKCommand"))->text(), QStringLiteral("設定"));
    EXPECT_EQ(control<QPushButton>(server, QStringLiteral("CancelCommand"))->text(),
              QStringLiteral("中止"));
    EXPECT_EQ(server->focusWidget(), edit(server, "MailText")) << "first tab position";
    // Labels and boxes run from top to bottom in the designed order.
    const char* order[] = {"Label1", "SmtpText", "Label2", "Pop3Text", "Label3", "MailText",
                           "ApopCheck", "OKCommand"};
    for (size_t i = 1; i < std::size(order); ++i)
        EXPECT_LT(server->findChild<QWidget*>(QString::fromLatin1(order[i - 1]))->y(),
                  server->findChild<QWidget*>(QString::fromLatin1(order[i]))->y())
            << order[i];

    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->windowTitle(), QStringLiteral("ＩＤ，ＰＡＳＳ"));
    EXPECT_EQ(control<QLabel>(account, QStringLiteral("Label1"))->text(), QStringLiteral("ID"));
    EXPECT_EQ(control<QLabel>(account, QStringLiteral("Label2"))->text(), QStringLiteral("Password"));
    EXPECT_EQ(check(account, "Check1")->text(), QStringLiteral("IDパスワードを保存する"));
    EXPECT_EQ(control<QPushButton>(account, QStringLiteral("OKCommand"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(control<QPushButton>(account, QStringLiteral("CancelCommand"))->text(),
              QStringLiteral("Cancel"));
}

TEST_F(SettingsDialogs, ServerDialogFillsFromProcessValuesNotFromFile)
{
    app->state().server.SmtpServer = QStringLiteral("changed.example.jp");
    app->state().server.ApopFlag = 1;
    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(edit(server, "SmtpText")->text(), QStringLiteral("changed.example.jp"));
    EXPECT_EQ(edit(server, "Pop3Text")->text(), QStringLiteral("pop.example.jp"));
    EXPECT_EQ(edit(server, "MailText")->text(), QStringLiteral("taro@example.jp"));
    EXPECT_TRUE(check(server, "ApopCheck")->isChecked());
}

TEST_F(SettingsDialogs, ServerDialogOkRewritesFourLinesAndNextStartReadsThemBack)
{
    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    press(server, "OKCommand");
    EXPECT_EQ(dir.read(common::paths::ServerSettings), kServerFile) << "unchanged values, same file";
    EXPECT_FALSE(server->isVisible());

    server = openServerDialog();
    ASSERT_NE(server, nullptr);
    edit(server, "SmtpText")->setText(QStringLiteral(" smtp.新しい.jp "));
    edit(server, "MailText")->setText(QStringLiteral("花子 <hanako@example.jp>"));
    check(server, "ApopCheck")->setChecked(true);
    press(server, "OKCommand");
    EXPECT_EQ(app->state().server.SmtpServer, QStringLiteral(" smtp.新しい.jp ")) << "untrimmed";
    EXPECT_EQ(app->state().server.ApopFlag, 1);
    const QByteArray written = dir.read(common::paths::ServerSettings);
    EXPECT_TRUE(written.endsWith("APOP=1\r\n")) << written.toStdString();
    EXPECT_EQ(written.count("\r\n"), 4);

    restart();
    EXPECT_EQ(app->state().server.SmtpServer, QStringLiteral(" smtp.新しい.jp "));
    EXPECT_EQ(app->state().server.Pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_EQ(app->state().server.MailAddress, QStringLiteral("花子 <hanako@example.jp>"));
    EXPECT_EQ(app->state().server.ApopFlag, 1);

    server = openServerDialog();
    ASSERT_NE(server, nullptr);
    check(server, "ApopCheck")->setChecked(false);
    press(server, "OKCommand");
    EXPECT_TRUE(dir.read(common::paths::ServerSettings).endsWith("APOP=0\r\n"));
}

TEST_F(SettingsDialogs, ServerDialogKeepsNoMoreThanTheFileCanHold)
{
    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    edit(server, "Pop3Text")->setText(QString(120, u'p'));
    press(server, "OKCommand");
    const QString accepted = app->state().server.Pop3Server;
    EXPECT_EQ(accepted, QString(100, u'p'));
    restart();
    EXPECT_EQ(app->state().server.Pop3Server, accepted)
        << "what the dialog accepted is what the next start reads";
}

TEST_F(SettingsDialogs, CancelAndEscapeLeaveBothFilesByteForByte)
{
    dir.write(common::paths::AccountFile, kAccountFile);
    const storage::ServerSettings before = app->state().server;

    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    edit(server, "Pop3Text")->setText(QStringLiteral("other.example.jp"));
    press(server, "CancelCommand");
    EXPECT_FALSE(server->isVisible());
    settle();

    server = openServerDialog();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(edit(server, "Pop3Text")->text(), QStringLiteral("pop.example.jp"));
    edit(server, "SmtpText")->setText(QStringLiteral("other.example.jp"));
    QTest::keyClick(edit(server, "SmtpText"), Qt::Key_Escape);
    EXPECT_FALSE(server->isVisible()) << "Esc answers 中止";

    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    edit(account, "IdText")->setText(QStringLiteral("other-id"));
    check(account, "Check1")->setChecked(true);
    press(account, "CancelCommand");
    EXPECT_FALSE(account->isVisible());
    settle();

    account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    edit(account, "PassText")->setText(QStringLiteral("other-pass"));
    QTest::keyClick(edit(account, "PassText"), Qt::Key_Escape);
    EXPECT_FALSE(account->isVisible()) << "Esc answers Cancel";

    EXPECT_EQ(dir.read(common::paths::ServerSettings), kServerFile);
    EXPECT_EQ(dir.read(common::paths::AccountFile), kAccountFile);
    EXPECT_EQ(app->state().server.SmtpServer, before.SmtpServer);
    EXPECT_EQ(app->state().server.Pop3Server, before.Pop3Server);
    EXPECT_EQ(app->state().PopUserId, QString());
    EXPECT_EQ(app->state().PopPassword, QString());
}

TEST_F(SettingsDialogs, AccountDialogShowsStoredAccountMaskedWithSaveBoxClear)
{
    dir.write(common::paths::AccountFile, kAccountFile);
    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(edit(account, "IdText")->text(), QStringLiteral("stored-id"));
    QLineEdit* pass = edit(account, "PassText");
    EXPECT_EQ(pass->text(), QStringLiteral("stored-pass"));
    EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(pass->testAttribute(Qt::WA_InputMethodEnabled)) << "input method off";
    EXPECT_TRUE(pass->inputMethodHints() & Qt::ImhHiddenText);
    EXPECT_FALSE(check(account, "Check1")->isChecked());
}

TEST_F(SettingsDialogs, AccountWithoutFileGivesEmptyBoxes)
{
    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(edit(account, "IdText")->text(), QString());
    EXPECT_EQ(edit(account, "PassText")->text(), QString());
}

TEST_F(SettingsDialogs, AccountOkWithSaveStoresAndLaterOkWithoutSaveKeepsIt)
{
    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    edit(account, "IdText")->setText(QStringLiteral("taro"));
    edit(account, "PassText")->setText(QStringLiteral("ぱすわーど 1"));
    check(account, "Check1")->setChecked(true);
    press(account, "OKCommand");
    EXPECT_FALSE(account->isVisible());
    EXPECT_EQ(app->state().PopUserId, QStringLiteral("taro"));
    EXPECT_EQ(app->state().PopPassword, QStringLiteral("ぱすわーど 1"));
    EXPECT_EQ(stored("NAME"), QStringLiteral("taro"));
    EXPECT_EQ(stored("NAME2"), QStringLiteral("ぱすわーど 1"));
    EXPECT_EQ(stored("NAME3"), QStringLiteral("1"));
    settle();

    account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_FALSE(check(account, "Check1")->isChecked()) << "unchecked whenever it opens";
    edit(account, "IdText")->setText(QStringLiteral("jiro"));
    edit(account, "PassText")->setText(QStringLiteral("other"));
    press(account, "OKCommand");
    EXPECT_EQ(app->state().PopUserId, QStringLiteral("jiro"));
    EXPECT_EQ(app->state().PopPassword, QStringLiteral("other"));
    EXPECT_EQ(stored("NAME"), QStringLiteral("taro"));
    EXPECT_EQ(stored("NAME2"), QStringLiteral("ぱすわーど 1"));
    EXPECT_EQ(stored("NAME3"), QStringLiteral("0"));
    settle();

    account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(edit(account, "IdText")->text(), QStringLiteral("taro"));
    EXPECT_EQ(edit(account, "PassText")->text(), QStringLiteral("ぱすわーど 1"));
}

TEST_F(SettingsDialogs, AccountAndServerTextsBeyondCodePage932ReadBackAtTheNextStart)
{
    dir.write(common::paths::AccountFile, kAccountFile);
    const QString id = QStringLiteral("taro") + test::beyondCp932().join(QString());
    const QString password = QStringLiteral("pass¥word😀");
    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    ui.clear();
    edit(account, "IdText")->setText(id);
    edit(account, "PassText")->setText(password);
    check(account, "Check1")->setChecked(true);
    press(account, "OKCommand");
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
    settle();

    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    edit(server, "MailText")->setText(QStringLiteral("花子♥ <hanako@example.jp>"));
    press(server, "OKCommand");

    restart();
    EXPECT_EQ(app->state().server.MailAddress, QStringLiteral("花子♥ <hanako@example.jp>"));
    EXPECT_EQ(stored("NAME"), id);
    EXPECT_EQ(stored("NAME2"), password) << "the login string the next receive reads";
    account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(edit(account, "PassText")->text(), password);
}

TEST_F(SettingsDialogs, EnterInAccountDialogIsOk)
{
    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    edit(account, "IdText")->setText(QStringLiteral("taro"));
    edit(account, "PassText")->setText(QStringLiteral("secret"));
    QTest::keyClick(edit(account, "PassText"), Qt::Key_Return);
    EXPECT_FALSE(account->isVisible());
    EXPECT_EQ(app->state().PopUserId, QStringLiteral("taro"));
    EXPECT_EQ(app->state().PopPassword, QStringLiteral("secret"));
    EXPECT_EQ(stored("NAME3"), QStringLiteral("0"));
}

TEST_F(SettingsDialogs, WriteFailuresAreReportedNotPassedOffAsSaved)
{
    // A folder where a settings file should be: neither file can be written.
    QFile::remove(dir.path(common::paths::ServerSettings));
    QDir().mkpath(dir.path(common::paths::ServerSettings));
    QDir().mkpath(dir.path(common::paths::AccountFile));

    auto* server = openServerDialog();
    ASSERT_NE(server, nullptr);
    press(server, "OKCommand");
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.startsWith(QStringLiteral("サーバー設定を保存できませんでした。")));
    EXPECT_EQ(ui.shown()[0].title, ui::UiSeam::applicationTitle());

    auto* account = openAccountDialog();
    ASSERT_NE(account, nullptr);
    check(account, "Check1")->setChecked(true);
    press(account, "OKCommand");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_TRUE(ui.shown()[1].text.startsWith(QStringLiteral("ID・パスワードを保存できませんでした。")));
}

TEST_F(SettingsDialogs, ConnectionCheckReportsAndWritesTheLineItFound)
{
    // An old POP3 server without TLS that offers APOP; every other probed port is closed.
    QTcpServer pop3;
    ASSERT_TRUE(pop3.listen(QHostAddress::LocalHost));
    QObject::connect(&pop3, &QTcpServer::newConnection, &pop3, [&pop3] {
        QTcpSocket* client = pop3.nextPendingConnection();
        client->write("+OK ready <42.1@old.example.jp>\r\n");
        QObject::connect(client, &QTcpSocket::readyRead, client, [client] {
            while (client->canReadLine()) {
                const QByteArray verb = client->readLine().trimmed().toUpper();
                client->write(verb == "CAPA" ? "+OK\r\nUSER\r\nUIDL\r\n.\r\n" : "+OK\r\n");
                if (verb == "QUIT")
                    client->disconnectFromHost();
            }
        });
    });
    const LoopbackPort refusing[] = {LoopbackPort::refusing(), LoopbackPort::refusing(), LoopbackPort::refusing(),
                                     LoopbackPort::refusing()};
    app->mail().options().checkPorts = {refusing[0].port(), pop3.serverPort(), refusing[1].port(), refusing[2].port(),
                                        refusing[3].port()};
    app->state().server.Pop3Server = QStringLiteral("127.0.0.1");
    app->state().server.SmtpServer = QStringLiteral("127.0.0.1");
    app->state().server.ApopFlag = 1;

    auto* check = openFromHub<CheckForm>("Command3");
    ASSERT_NE(check, nullptr);
    auto* hub = app->forms().find<SetForm>();
    EXPECT_EQ(control<QPushButton>(hub, QStringLiteral("Command3"))->text(), QStringLiteral("接続テスト"));
    EXPECT_LT(control<QPushButton>(hub, QStringLiteral("Command2"))->x(),
              control<QPushButton>(hub, QStringLiteral("Command3"))->x()) << "the two first buttons stay first";

    const QString report = control<QPlainTextEdit>(check, QStringLiteral("ReportText"))->toPlainText();
    EXPECT_TRUE(report.contains(QStringLiteral("× POP3S"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("× SMTP ポート"))) << report.toStdString();
    const QString line = QStringLiteral("127.0.0.1:%1").arg(pop3.serverPort());
    EXPECT_TRUE(report.contains(QStringLiteral("POP3サーバー名: ") + line)) << report.toStdString();

    press(check, "UseCommand");
    storage::ServerSettings written;
    storage::ReadServerSettings(dir.path(common::paths::ServerSettings), written);
    EXPECT_EQ(written.Pop3Server, line);
    EXPECT_EQ(written.SmtpServer, QStringLiteral("127.0.0.1")) << "no SMTP way found: the line stays";
    EXPECT_EQ(app->state().server.Pop3Server, line);
}

} // namespace
} // namespace corvidan::test
