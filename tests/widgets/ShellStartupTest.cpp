#include "ShellTestSupport.h"

#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "emoticons/PaletteFiles.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "support/Controls.h"

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace corvidan::test {
namespace {

using settings::OptionForm;

class ShellStartup : public LauncherTest {
protected:
    const storage::ServerSettings& server() { return app->state().server; }
    OptionForm* serverDialog() { return app->forms().find<OptionForm>(); }
};

TEST_F(ShellStartup, WithoutSettingsFileOpensServerDialogBesideLauncher)
{
    start();
    EXPECT_TRUE(launcher->isVisible());
    ASSERT_NE(serverDialog(), nullptr);
    EXPECT_TRUE(serverDialog()->isVisible());
    EXPECT_TRUE(serverDialog()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(server().SmtpServer, QString());
    EXPECT_EQ(server().Pop3Server, QString());
    EXPECT_EQ(server().MailAddress, QString());
    EXPECT_EQ(server().ApopFlag, 0);
    EXPECT_TRUE(ui.shown().empty()) << "start-up shows no message of its own";
}

TEST_F(ShellStartup, FirstServerDialogShowsExamplesAndStoresOnlyWhatIsTyped)
{
    start();
    ASSERT_NE(serverDialog(), nullptr);
    auto* smtp = control<QLineEdit>(serverDialog(), QStringLiteral("SmtpText"));
    auto* pop3 = control<QLineEdit>(serverDialog(), QStringLiteral("Pop3Text"));
    auto* mail = control<QLineEdit>(serverDialog(), QStringLiteral("MailText"));
    // Each example is a form the transport accepts as it stands.
    EXPECT_EQ(smtp->placeholderText(), QStringLiteral("例: smtp.example.jp:587"));
    EXPECT_EQ(pop3->placeholderText(), QStringLiteral("例: pop3s://pop.example.jp"));
    EXPECT_EQ(mail->placeholderText(), QStringLiteral("例: taro@example.jp"));
    const QString hint = control<QLabel>(serverDialog(), QStringLiteral("HintLabel"))->text();
    EXPECT_TRUE(hint.contains(QStringLiteral("「接続テスト」"))) << hint.toStdString();
    EXPECT_TRUE(hint.contains(QStringLiteral("設定画面"))) << "where the check is";

    mail->setText(QStringLiteral("hanako@example.jp"));
    control<QPushButton>(serverDialog(), QStringLiteral("OKCommand"))->click();
    EXPECT_EQ(dir.read(common::paths::ServerSettings),
              QByteArray("SMTP=\r\nPOP3=\r\nMAIL=hanako@example.jp\r\nAPOP=0\r\n"))
        << "no example is written for an empty box";
    EXPECT_EQ(server().SmtpServer, QString());
    EXPECT_EQ(server().Pop3Server, QString());
}

TEST_F(ShellStartup, OnlySmtpLineSetsSmtpAndStillAsksForServers)
{
    start(QByteArray("SMTP=smtp.example.jp\r\n"));
    EXPECT_EQ(server().SmtpServer, QStringLiteral("smtp.example.jp"));
    EXPECT_EQ(server().Pop3Server, QString());
    EXPECT_EQ(server().MailAddress, QString());
    EXPECT_EQ(server().ApopFlag, 0);
    ASSERT_NE(serverDialog(), nullptr);
    EXPECT_EQ(control<QLineEdit>(serverDialog(), QStringLiteral("SmtpText"))->text(),
              QStringLiteral("smtp.example.jp"));
}

TEST_F(ShellStartup, LowerCaseKeyIsSkipped)
{
    start(QByteArray("pop3=pop.example.jp\r\nSMTP=smtp.example.jp\r\n"));
    EXPECT_EQ(server().Pop3Server, QString());
    EXPECT_EQ(server().SmtpServer, QStringLiteral("smtp.example.jp"));
    EXPECT_NE(serverDialog(), nullptr);
}

TEST_F(ShellStartup, LaterMailLineWinsAndAPop3ServerKeepsDialogClosed)
{
    start(QByteArray("MAIL=first@example.jp\r\nPOP3=pop.example.jp\r\nMAIL=second@example.jp\r\n"
                     "APOP=1\r\n"));
    EXPECT_EQ(server().MailAddress, QStringLiteral("second@example.jp"));
    EXPECT_EQ(server().Pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_EQ(server().ApopFlag, 1);
    EXPECT_EQ(serverDialog(), nullptr);
}

TEST_F(ShellStartup, EmptyPop3ValueOpensDialogLikeAMissingLine)
{
    start(QByteArray("SMTP=s\r\nPOP3=\r\nMAIL=m\r\nAPOP=0\r\n"));
    EXPECT_NE(serverDialog(), nullptr);
}

TEST_F(ShellStartup, ComposeWindowIsLoadedHiddenAndTheComposeLabelShowsThatOne)
{
    start(QByteArray("POP3=pop.example.jp\r\n"));
    auto* compose = app->forms().find<compose::WriteForm>();
    ASSERT_NE(compose, nullptr) << "loaded at start-up";
    EXPECT_FALSE(compose->isVisible());
    EXPECT_FALSE(control<QCheckBox>(compose, QStringLiteral("Check1"))->isChecked());

    QTest::mouseClick(control<QLabel>(launcher, QStringLiteral("Label9")), Qt::LeftButton);
    EXPECT_EQ(app->forms().find<compose::WriteForm>(), compose);
    EXPECT_TRUE(compose->isVisible());
}

TEST_F(ShellStartup, MailLibraryInitialisedOnceAndReleasedOnceAtClose)
{
    start(QByteArray("POP3=pop.example.jp\r\n"));
    EXPECT_EQ(app->mail().initializeCount(), 1);
    EXPECT_EQ(app->mail().endCount(), 0);

    // Reopening windows and closing dialogs must not touch the library.
    app->forms().get<settings::SetForm>()->show();
    app->forms().get<OptionForm>()->close();
    settle();
    EXPECT_EQ(app->mail().initializeCount(), 1);
    EXPECT_EQ(app->mail().endCount(), 0);

    launcher->close();
    EXPECT_EQ(app->mail().initializeCount(), 1);
    EXPECT_EQ(app->mail().endCount(), 1);
}

TEST_F(ShellStartup, ClosingLauncherDiscardsEveryOtherWindowWithoutPrompt)
{
    start(QByteArray("POP3=pop.example.jp\r\n"));
    const QByteArray accountBefore = dir.read(common::paths::AccountFile);
    app->forms().get<settings::SetForm>()->show();
    auto* account = app->forms().get<settings::IdPassForm>();
    account->show();
    account->idText()->setText(QStringLiteral("unsaved"));
    control<QCheckBox>(account, QStringLiteral("Check1"))->setChecked(true);
    // The palette, though, keeps what was typed into its pages, as its own close would.
    auto* palette = app->forms().get<emoticons::KaoForm>();
    palette->show();
    const QString faces = QStringLiteral("（　´∀｀）\n(^_^)");
    palette->pageBox(2)->setPlainText(faces);

    launcher->close();
    EXPECT_EQ(app->forms().find<emoticons::KaoForm>(), nullptr);
    QFile pageFile(emoticons::palettePath(dir.appDir(), 2));
    ASSERT_TRUE(pageFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(pageFile.readAll(), emoticons::paletteFileBytes(faces));
    EXPECT_EQ(app->forms().find<compose::WriteForm>(), nullptr);
    EXPECT_EQ(app->forms().find<settings::SetForm>(), nullptr);
    EXPECT_EQ(app->forms().find<settings::IdPassForm>(), nullptr);
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(dir.read(common::paths::AccountFile), accountBefore) << "nothing written at shutdown";
    // The closed launcher dates no more mail, and may outlive the application
    // until the event loop deletes it.
    EXPECT_FALSE(app->state().LauncherClock);
    app.reset();
    settle();
}

TEST_F(ShellStartup, CentralPictureIsTheDeliveredBackgroundAndNewMailReplacesIt)
{
    start(QByteArray("POP3=pop.example.jp\r\n"));
    auto* image2 = control<QLabel>(launcher, QStringLiteral("Image2"));
    const QImage background(dir.path(common::paths::BackgroundPicture));
    const QImage newMail(dir.path(common::paths::NewMailPicture));
    ASSERT_FALSE(background.isNull());
    ASSERT_FALSE(newMail.isNull());
    ASSERT_NE(background, newMail);
    EXPECT_EQ(image2->pixmap().toImage().convertToFormat(background.format()), background);

    launcher->showNewMailPicture();
    EXPECT_EQ(image2->pixmap().toImage().convertToFormat(newMail.format()), newMail);
}

TEST_F(ShellStartup, MissingOrBrokenPictureLeavesTheFrameEmpty)
{
    QFile::remove(dir.path(common::paths::BackgroundPicture));
    start(QByteArray("POP3=pop.example.jp\r\n"));
    EXPECT_TRUE(control<QLabel>(launcher, QStringLiteral("Image2"))->pixmap().isNull());
    EXPECT_FALSE(control<QLabel>(launcher, QStringLiteral("Image1"))->pixmap().isNull())
        << "the background travels inside the program";

    dir.write(common::paths::BackgroundPicture, QByteArray("not a picture"));
    restart(QByteArray("POP3=pop.example.jp\r\n"));
    EXPECT_TRUE(control<QLabel>(launcher, QStringLiteral("Image2"))->pixmap().isNull());
}

} // namespace
} // namespace corvidan::test
