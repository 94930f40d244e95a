// Settings files that an editor saved: "zorbet.ini" in UTF-8 with and without a
// byte-order mark and with CR-only line ends, the account file with a mark. The
// launcher starts with the values, the receive logs in with the account, and the
// dialogs write back without damaging what they do not own.

#include "BadFiles.h"
#include "common/Cp932.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "support/Controls.h"
#include "widgets/ShellTestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace corvidan::test {
namespace {

using badfiles::readFile;
using badfiles::writeFile;

const QByteArray kBom = "\xEF\xBB\xBF";

class SettingsFiles : public LauncherTest {
protected:
    QString accountPath() const { return dir.path(common::paths::AccountFile); }
    QString serverPath() const { return dir.path(common::paths::ServerSettings); }

    /// The receive over a one-message mailbox; the id and password it logged in with.
    std::pair<QString, QString> loginOfAReceive()
    {
        test::ScriptedMailbox mail = badfiles::mailbox(QStringLiteral("ST"), 1);
        badfiles::RecordingHost host;
        const transport::ReceiveOutcome out =
            transport::ReceiveMail(dir.appDir(), {badfiles::kServer, 0}, mail, host);
        EXPECT_EQ(out.stored, 1);
        EXPECT_TRUE(host.boxes.empty());
        return {mail.lastId, mail.lastPassword};
    }

    settings::IdPassForm* accountDialog() { return app->forms().get<settings::IdPassForm>(); }
    void confirmAccount(const QString& id, const QString& password)
    {
        auto* dialog = accountDialog();
        dialog->idText()->setText(id);
        dialog->passText()->setText(password);
        control<QCheckBox>(dialog, QStringLiteral("Check1"))->setChecked(true);
        control<QPushButton>(dialog, QStringLiteral("OKCommand"))->click();
        settle();
    }
};

TEST_F(SettingsFiles, TheLauncherStartsWithAServerFileAnEditorSaved)
{
    const QString mail = QStringLiteral("山田 太郎 <taro@example.jp>");
    const QString lines[] = {QStringLiteral("SMTP=smtp.example.jp"),
                             QStringLiteral("POP3=pop.example.jp"), QStringLiteral("MAIL=") + mail,
                             QStringLiteral("APOP=1")};
    struct Variant {
        const char* name;
        QByteArray bytes;
    };
    auto joined = [&](const QString& end) {
        return QStringList(std::begin(lines), std::end(lines)).join(end) + end;
    };
    const Variant variants[] = {
        {"UTF-8 with mark", kBom + joined(QStringLiteral("\r\n")).toUtf8()},
        {"UTF-8 without mark", joined(QStringLiteral("\r\n")).toUtf8()},
        {"code page 932, CR only", common::cp932::encode(joined(QStringLiteral("\r")))},
        {"UTF-8 with mark, CR only", kBom + joined(QStringLiteral("\r")).toUtf8()},
        {"UTF-8 with mark, LF only, no end on the last line",
         kBom + joined(QStringLiteral("\n")).chopped(1).toUtf8()},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        restart(v.bytes);
        const storage::ServerSettings& s = app->state().server;
        EXPECT_EQ(s.SmtpServer, QStringLiteral("smtp.example.jp"));
        EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.example.jp"));
        EXPECT_EQ(s.MailAddress, mail);
        EXPECT_EQ(s.ApopFlag, 1);
        EXPECT_EQ(app->forms().find<settings::OptionForm>(), nullptr)
            << "the server dialog asked for a server the file names";
        EXPECT_TRUE(ui.shown().empty());
    }
}

TEST_F(SettingsFiles, TheServerDialogRewritesAnEditorsFileInTheProgramsOwnForm)
{
    start(kBom +
          QStringLiteral(
              "SMTP=smtp.example.jp\rPOP3=pop.example.jp\rMAIL=花子 <hanako@example.jp>\rAPOP=0\r")
              .toUtf8());
    auto* dialog = app->forms().get<settings::OptionForm>();
    control<QCheckBox>(dialog, QStringLiteral("ApopCheck"))->setChecked(true);
    control<QPushButton>(dialog, QStringLiteral("OKCommand"))->click();
    settle();
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(readFile(serverPath()),
              "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=" +
                  common::cp932::encode(QStringLiteral("花子 <hanako@example.jp>")) +
                  "\r\nAPOP=1\r\n");
    restart();
    EXPECT_EQ(app->state().server.MailAddress, QStringLiteral("花子 <hanako@example.jp>"));
    EXPECT_EQ(app->state().server.ApopFlag, 1);
}

TEST_F(SettingsFiles, AnAccountFileWithAByteOrderMarkLogsInAndKeepsItsForm)
{
    start(QByteArray("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n"));
    const QByteArray edited =
        kBom +
        QStringLiteral("[EXEINI]\r\n; メールの設定\r\nNAME=taro\r\nNAME2=ひみつ\r\nNAME3=1\r\n")
            .toUtf8();
    writeFile(accountPath(), edited);

    EXPECT_EQ(loginOfAReceive(), std::make_pair(QStringLiteral("taro"), QStringLiteral("ひみつ")));
    EXPECT_EQ(accountDialog()->idText()->text(), QStringLiteral("taro"));
    EXPECT_EQ(accountDialog()->passText()->text(), QStringLiteral("ひみつ"));

    confirmAccount(QStringLiteral("taro"), QStringLiteral("合言葉①"));
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
    QByteArray expected = edited;
    expected.replace(QStringLiteral("NAME2=ひみつ").toUtf8(),
                     QStringLiteral("NAME2=合言葉①").toUtf8());
    EXPECT_EQ(readFile(accountPath()), expected)
        << "mark, comment and line ends kept, the value in UTF-8";
    EXPECT_EQ(loginOfAReceive(), std::make_pair(QStringLiteral("taro"), QStringLiteral("合言葉①")));
}

TEST_F(SettingsFiles, ACodePage932AccountFileWithCrOnlyLineEndsStaysCodePage932)
{
    start(QByteArray("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n"));
    const QByteArray edited = common::cp932::encode(
        QStringLiteral("[EXEINI]\rNAME=はなこ\rNAME2=pw\rNAME3=1\r[他]\rX=1\r"));
    writeFile(accountPath(), edited);
    EXPECT_EQ(loginOfAReceive(), std::make_pair(QStringLiteral("はなこ"), QStringLiteral("pw")));

    confirmAccount(QStringLiteral("はなこ"), QStringLiteral("新しい合言葉"));
    EXPECT_TRUE(ui.shown().empty()) << ui.shownTexts().join(u'\n').toStdString();
    EXPECT_EQ(readFile(accountPath()),
              common::cp932::encode(QStringLiteral(
                  "[EXEINI]\rNAME=はなこ\rNAME2=新しい合言葉\rNAME3=1\r[他]\rX=1\r")));
    EXPECT_EQ(loginOfAReceive(),
              std::make_pair(QStringLiteral("はなこ"), QStringLiteral("新しい合言葉")));
}

} // namespace
} // namespace corvidan::test
