// The launcher's "受信" against the real Dovecot: the launcher's lines and
// picture, the viewer as holder of the last message, the account dialog.

#include "ReceiveServer.h"

#include "compose/WriteForm.h"
#include "history/TyakuForm.h"
#include "shell/ReceiveHost.h"
#include "settings/IdPassForm.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "widgets/ShellTestSupport.h"

#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QTimer>
#include <functional>

using namespace corvidan;
using corvidan::test::control;

namespace {

class ReceiveWindow : public test::LauncherTest {
protected:
    void SetUp() override
    {
        if (!box.ok())
            GTEST_SKIP() << "no Dovecot (fixture dovecot not running)";
        box.clear();
    }
    void startWithAccount(const QString& password)
    {
        dir.write(u"\\★MailData\\iniIdPass.ini",
                  (QStringLiteral("[EXEINI]\r\nNAME=") + box.user() + QStringLiteral("\r\nNAME2=") + password +
                   QStringLiteral("\r\n")).toUtf8());
        app.reset();
        ui.clear();
        start((QStringLiteral("SMTP=\r\nPOP3=") + box.serverName() + QStringLiteral("\r\nMAIL=\r\nAPOP=0\r\n")).toUtf8());
        app->mail().options().caFile = box.value(QStringLiteral("CA_FILE"));
    }
    QLabel* label(const char* name) { return control<QLabel>(launcher, QString::fromLatin1(name)); }
    void receive() { QTest::mouseClick(label("Label8"), Qt::LeftButton); }
    qint64 pictureKey() { return label("Image2")->pixmap().cacheKey(); }

    test::Pop3Mailbox box;
};

} // namespace

TEST_F(ReceiveWindow, ShowsTheCountThePictureAndTheLastMessage)
{
    box.deliver(test::fixtureMessage(QStringLiteral("hostile-attachment-name.eml")));
    box.deliver(test::fixtureMessage(QStringLiteral("duplicate-attachment-names.eml")));
    box.deliver(test::fixtureMessage(QStringLiteral("long-subject.eml")));
    startWithAccount(box.password());
    const qint64 before = pictureKey();
    receive();

    EXPECT_EQ(label("Label12")->text(), QStringLiteral("3の新着メール有り。"));
    EXPECT_EQ(label("Label2")->text(), QStringLiteral("メールのチェックをしています。"));
    EXPECT_NE(pictureKey(), before);
    EXPECT_EQ(app->state().CurrentRecordNo, 3);
    EXPECT_EQ(app->state().PopUserId, box.user());
    auto* viewer = app->forms().find<history::TyakuForm>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(control<QLineEdit>(viewer, QStringLiteral("Text7"))->text(), QStringLiteral("長い件名のテスト").repeated(8).left(60));
    EXPECT_TRUE(control<QLineEdit>(viewer, QStringLiteral("Text8"))->text().contains(QStringLiteral("次郎")));
    EXPECT_TRUE(viewer->bodyText().contains(QStringLiteral("件名が長いメールです。")));
    auto* account = app->forms().find<settings::IdPassForm>();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->idText()->text(), box.user());
    EXPECT_FALSE(account->isVisible());
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received).RecordCount(), 3);
    // The reply window's "本文に貼付" reads the last received record from this buffer.
    EXPECT_TRUE(app->state().ReceivedRecord.Body.contains(QStringLiteral("件名が長いメールです。")));
    EXPECT_EQ(app->state().ReceivedRecord.Subject,
              storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received).ReadRecord(3)->Subject);
}

TEST_F(ReceiveWindow, AnOpenViewerOfTheReceivedHistoryListsWhatArrived)
{
    box.deliver(test::fixtureMessage(QStringLiteral("hostile-attachment-name.eml")));
    box.deliver(test::fixtureMessage(QStringLiteral("long-subject.eml")));
    startWithAccount(box.password());
    auto* viewer = app->forms().get<history::TyakuForm>();
    viewer->OpenHistory(1);
    auto* list = control<QTreeView>(viewer, QStringLiteral("MailListView"));
    ASSERT_EQ(list->model()->rowCount(), 0);
    receive();

    ASSERT_TRUE(viewer->isVisible());
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(control<QLineEdit>(viewer, QStringLiteral("Text2"))->text(), QStringLiteral("2"));
    EXPECT_EQ(list->model()->index(1, 0).data().toString().trimmed(),
              control<QLineEdit>(viewer, QStringLiteral("Text7"))->text().trimmed());
    EXPECT_TRUE(viewer->bodyText().contains(QStringLiteral("件名が長いメールです。")));
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(ReceiveWindow, EmptyMailboxLeavesThePictureAlone)
{
    startWithAccount(box.password());
    const qint64 before = pictureKey();
    receive();
    EXPECT_EQ(label("Label12")->text(), QStringLiteral("新着メール無し。"));
    EXPECT_EQ(pictureKey(), before);
}

TEST_F(ReceiveWindow, AsksForTheAccountOrShowsTheServersRefusal)
{
    box.deliver(test::fixtureMessage(QStringLiteral("long-subject.eml")));
    startWithAccount(QString());
    receive();
    auto* account = app->forms().find<settings::IdPassForm>();
    ASSERT_NE(account, nullptr);
    EXPECT_TRUE(account->isVisible());
    EXPECT_EQ(label("Label12")->text(), QStringLiteral("新着メール無し。"));
    EXPECT_EQ(box.messages().size(), 1);

    startWithAccount(QStringLiteral("wrong-password"));
    receive();
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("エラー"));
    EXPECT_EQ(label("Label12")->text(), QStringLiteral("新着メール無し。"));
    EXPECT_EQ(box.messages().size(), 1);
}

TEST_F(ReceiveWindow, StopsOnItsCancelControlEscOrClosingTheLauncherNeverHalfWay)
{
    struct Case {
        const char* name;
        std::function<void(shell::MainForm*)> stop;
        bool closes;
    };
    const std::vector<Case> cases = {
        {"中止", [](shell::MainForm* l) { QTest::mouseClick(control<QPushButton>(l, QStringLiteral("ReceiveCancel")), Qt::LeftButton); },
         false},
        {"Esc", [](shell::MainForm* l) { QTest::keyClick(l, Qt::Key_Escape); }, false},
        {"closing the launcher", [](shell::MainForm* l) { l->close(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box.clear();
        dir.write(u"\\★MAilData\\zrbdata2.data", QByteArray());
        for (int i = 0; i < 3; ++i)
            box.deliver(test::fixtureMessage(QStringLiteral("long-subject.eml")));
        startWithAccount(box.password());
        EXPECT_FALSE(control<QPushButton>(launcher, QStringLiteral("ReceiveCancel"))->isVisible());
        // The stop comes while the first message is under way, as a user's would.
        bool stopped = false;
        bool cancelShown = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (stopped || !label("Label2")->text().contains(QStringLiteral("（1 / 3）")))
                return;
            stopped = true;
            cancelShown = control<QPushButton>(launcher, QStringLiteral("ReceiveCancel"))->isVisible();
            c.stop(launcher);
        });
        watch.start(1);
        receive();
        watch.stop();
        ASSERT_TRUE(stopped);
        EXPECT_TRUE(cancelShown);
        const int stored = storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received).RecordCount();
        EXPECT_LT(stored, 3);
        EXPECT_EQ(stored + box.messages().size(), 3) << "a message lost or stored twice";
        EXPECT_TRUE(ui.shown().empty()) << "a stop is no error";
        EXPECT_EQ(launcher->isVisible(), !c.closes);
        if (!c.closes) {
            EXPECT_FALSE(control<QPushButton>(launcher, QStringLiteral("ReceiveCancel"))->isVisible());
        }
    }
}

TEST_F(ReceiveWindow, ABoxShownDuringAReceiveTakesClicksAndKeysWhileTheLauncherWaits)
{
    startWithAccount(box.password());
    shell::ReceiveHost host(*app, *launcher);
    QMessageBox question(QMessageBox::Information, QStringLiteral("Corvidan"), QStringLiteral("確認"),
                         QMessageBox::Ok, launcher);
    question.setWindowModality(Qt::ApplicationModal);
    question.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&question));
    QTest::mouseClick(question.button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(question.isVisible()) << "the box could not be answered";
    EXPECT_FALSE(host.cancelRequested());

    // Outside a box, a click on a launcher label waits; Esc asks the receive to stop.
    const QString before = label("Label12")->text();
    QTest::mouseClick(label("Label9"), Qt::LeftButton);
    EXPECT_EQ(app->forms().find<compose::WriteForm>() ? app->forms().find<compose::WriteForm>()->isVisible() : false, false);
    QTest::keyClick(launcher, Qt::Key_Escape);
    EXPECT_TRUE(host.cancelRequested());
    EXPECT_EQ(label("Label12")->text(), before);
}
