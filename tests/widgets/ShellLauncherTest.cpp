#include "ShellTestSupport.h"

#include "addressbook/FriendForm.h"
#include "compose/WriteForm.h"
#include "history/TyakuForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "shell/Launch.h"
#include "shell/ReceiveHost.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "ui/ClockText.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>
#include <cmath>

namespace corvidan::test {
namespace {

class ShellLauncher : public LauncherTest {
protected:
    void SetUp() override { start(QByteArray()); }
    QLabel* label(const char* name) { return control<QLabel>(launcher, QString::fromLatin1(name)); }
    void click(const char* name) { QTest::mouseClick(label(name), Qt::LeftButton); }
    /// The background picture shows through near the top left corner, away
    /// from every label and from the central picture.
    void moveOverBackground() { moveInWindow(launcher, QPoint(2, 40)); }
};

int pixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

// Transcribed from the launcher's design table: name, caption, left, top,
// width, height in twips.
struct Designed {
    const char* name;
    const char16_t* caption;
    int left, top, width, height;
};
const Designed designTable[] = {
    {"Image1", nullptr, 0, 0, 7680, 4440},
    {"Image2", nullptr, 2620, 1180, 2550, 2100},
    {"Label9", u"     新規作成", 480, 1680, 1215, 200},
    {"Label8", u"        受信", 480, 2000, 1215, 190},
    {"Label7", u"   着信履歴", 600, 2280, 1095, 200},
    {"Label6", u"     送信履歴", 480, 2600, 1215, 200},
    {"Label10", u"   アドレス帳", 6000, 1740, 1215, 200},
    {"Label11", u"       設定", 6000, 2040, 1215, 200},
    {"Label5", u"    HomePage", 6000, 2300, 1215, 200},
    {"Label4", u"      Small", 6000, 2600, 1095, 200},
    {"Label2", u"", 1440, 240, 4095, 615},
    {"Label12", u"", 4800, 3840, 2775, 375},
    {"Label3_0", u"What are you plans for the future?", 4320, 0, 2895, 255},
    {"Label3_1", u"I will love you for ever", 120, 4080, 2295, 255},
    {"Label1", nullptr, 2880, 3720, 2055, 375},
};

TEST_F(ShellLauncher, ControlsSitWhereDesignedWithTheirCaptions)
{
    EXPECT_EQ(launcher->objectName(), QStringLiteral("MainForm"));
    EXPECT_EQ(launcher->windowTitle(), QStringLiteral("Corvidan  Ver 1.25"));
    EXPECT_EQ(launcher->size(), QSize(pixels(7635), pixels(4380)));
    EXPECT_EQ(launcher->minimumSize(), launcher->maximumSize()) << "fixed size";
    for (const Designed& d : designTable) {
        SCOPED_TRACE(d.name);
        QLabel* l = label(d.name);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->geometry(),
                  QRect(pixels(d.left), pixels(d.top), pixels(d.width), pixels(d.height)));
        if (d.caption) {
            EXPECT_EQ(l->text(), QString::fromUtf16(d.caption));
        }
    }
    auto* clock = control<QLineEdit>(launcher, QStringLiteral("Text2"));
    EXPECT_EQ(clock->geometry(), QRect(pixels(2880), pixels(4920), pixels(2175), pixels(270)));
    EXPECT_GE(clock->y(), launcher->height()) << "the clock box lies below the client area";
}

TEST_F(ShellLauncher, FontsAsDesigned)
{
    for (const char* name : {"Label2", "Label12"})
        EXPECT_EQ(label(name)->font().family(), QStringLiteral("ＭＳ Ｐゴシック")) << name;
    for (const char* name : {"Label3_0", "Label3_1", "Label1"})
        EXPECT_EQ(label(name)->font().family(), QStringLiteral("Book Antiqua")) << name;
    EXPECT_FALSE(label("Label1")->text().trimmed().isEmpty()) << "a dedication";
}

TEST_F(ShellLauncher, HoverShowsEachControlsHelpText)
{
    const std::pair<const char*, const char16_t*> hints[] = {
        {"Image2", u"メールの新規作成・送信を行います。"},
        {"Label1", u"男の野望には終わりがない・・・"},
        {"Label4", u"フォーム（画面）を最小化します。"},
        {"Label5", u"メーラー専門店、作者のホームページです。"},
        {"Label6", u"送信（送信履歴）したメールを見ます。"},
        {"Label7", u"着信（着信履歴）したメールを見ます。"},
        {"Label8", u"新着メールの受信を行います。"},
        {"Label9", u"メールの新規作成・送信を行います。"},
        {"Label10", u"アドレス帳への登録を行います。着信からの自動入力、送信時の一発入力が可能になります。"},
        {"Label11", u"ID,PASS,サーバーの設定。これを行わないと通信エラーになります。"},
        {"Label12", u"流星を見る・・・"},
    };
    for (const auto& [name, text] : hints) {
        moveOverBackground(); // start from an empty line each time
        ASSERT_EQ(launcher->statusLine(), QString());
        hover(label(name));
        EXPECT_EQ(launcher->statusLine(), QString::fromUtf16(text)) << name;
    }
}

TEST_F(ShellLauncher, MovingFromReceiveLabelToBackgroundClearsStatusLine)
{
    hover(label("Label8"));
    ASSERT_EQ(launcher->statusLine(), QStringLiteral("新着メールの受信を行います。"));
    ASSERT_EQ(launcher->childAt(2, 40), label("Image1"));
    moveOverBackground();
    EXPECT_EQ(launcher->statusLine(), QString());
}

// Every window kind's hint goes once the pointer leaves its control: for another
// control without a hint (a list, the body under the hint box, a caption) or out
// of the window. `box` names the hint box; none means the launcher's status line.
TEST_F(ShellLauncher, EveryWindowsHintGoesWhenThePointerLeavesItsControl)
{
    struct Row {
        const char* window;
        const char* control;
        const char* elsewhere;
        const char* box;
    };
    const Row rows[] = {
        {"MainForm", "Label8", "Label3_0", nullptr},
        {"MainForm", "Image2", "Label3_1", nullptr},
        {"WriteForm", "Command8", "BodyText", "Text14"},
        {"WriteForm", "Command3", "ToText", "Text14"},
        {"TyakuForm", "Command3", "MailListView", "Text4"},
        {"TyakuForm", "Text1", "Text7", "Text4"},
        {"FriendForm", "Command3", "MailListView", "Text5"},
    };
    const auto open = [&](const char* name) -> QWidget* {
        QWidget* window = launcher;
        if (qstrcmp(name, "WriteForm") == 0)
            window = app->forms().get<compose::WriteForm>();
        else if (qstrcmp(name, "TyakuForm") == 0) {
            shell::openHistory(*app, 1);
            window = app->forms().find<history::TyakuForm>();
        } else if (qstrcmp(name, "FriendForm") == 0)
            window = app->forms().get<addressbook::FriendForm>();
        // Apart from the launcher, so that a move lands in the window meant.
        if (window != launcher)
            window->move(launcher->frameGeometry().right() + 40, 0);
        window->show();
        window->raise();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window)) << name;
        return window;
    };
    QWidget* window = nullptr;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.window) + " " + row.control);
        if (!window || window->objectName() != QLatin1String(row.window)) {
            if (window && window != launcher)
                window->hide();
            window = open(row.window);
        }
        QWidget* control = test::control<QWidget>(window, QString::fromLatin1(row.control));
        QWidget* elsewhere = test::control<QWidget>(window, QString::fromLatin1(row.elsewhere));
        auto* box = row.box ? test::control<QPlainTextEdit>(window, QString::fromLatin1(row.box)) : nullptr;
        const auto hintShown = [&] {
            return box ? !box->isHidden() && !box->toPlainText().isEmpty() : !launcher->statusLine().isEmpty();
        };
        const auto idle = [&] { return box ? box->isHidden() : launcher->statusLine().isEmpty(); };

        hover(control);
        ASSERT_TRUE(hintShown());
        const QPoint target = elsewhere->mapTo(window, elsewhere->rect().center());
        EXPECT_NE(window->childAt(target), box) << "the hint box never catches the pointer";
        hover(elsewhere);
        EXPECT_TRUE(idle()) << "moved to " << row.elsewhere;

        hover(control);
        ASSERT_TRUE(hintShown());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(control, &leave);
        EXPECT_TRUE(idle()) << "left the window";
    }
}

TEST_F(ShellLauncher, HoverOverResultLineChangesStatusNotResult)
{
    launcher->setResultLine(QStringLiteral("3の新着メール有り。"));
    hover(label("Label12"));
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("流星を見る・・・"));
    EXPECT_EQ(launcher->resultLine(), QStringLiteral("3の新着メール有り。"));
}

TEST_F(ShellLauncher, StatusLineKeepsAStatusTextWrittenOverAHintWhenThePointerLeaves)
{
    hover(label("Label9"));
    ASSERT_EQ(launcher->statusLine(), QStringLiteral("メールの新規作成・送信を行います。"));
    launcher->setStatusLine(QStringLiteral("メールのチェックをしています。"));
    hover(label("Label3_0"));
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("メールのチェックをしています。"));
}

TEST_F(ShellLauncher, ReceiveWithoutPop3ServerReportsNoNewMailAndOpensServerDialog)
{
    ASSERT_EQ(app->state().server.Pop3Server, QString());
    // The dialog start-up opened was put away without a server.
    ASSERT_NE(app->forms().find<settings::OptionForm>(), nullptr);
    app->forms().find<settings::OptionForm>()->close();
    settle();
    ASSERT_EQ(app->forms().find<settings::OptionForm>(), nullptr);

    click("Label8");
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("メールを受信します。"));
    EXPECT_EQ(launcher->resultLine(), QStringLiteral("新着メール無し。"));
    EXPECT_TRUE(ui.shown().empty());
    auto* dialog = app->forms().find<settings::OptionForm>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());

    // Asked again while it is open: still the one dialog, brought back up.
    dialog->showMinimized();
    click("Label8");
    EXPECT_EQ(app->forms().find<settings::OptionForm>(), dialog);
    EXPECT_FALSE(dialog->isMinimized());
    EXPECT_EQ(QApplication::topLevelWidgets().count(dialog), 1);
}

TEST_F(ShellLauncher, ReceiveFromAServerThatCannotBeReachedSaysWhy)
{
    // Port 1 of the loopback address: nothing listens there, the refusal is immediate.
    app->state().server.Pop3Server = QStringLiteral("127.0.0.1:1");
    click("Label8");
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("メールのチェックをしています。"));
    EXPECT_EQ(launcher->resultLine(), QStringLiteral("新着メール無し。"));
    ASSERT_EQ(ui.shown().size(), 1u) << "not passed off as an empty mailbox";
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("127.0.0.1"))) << ui.shown()[0].text.toStdString();
    EXPECT_EQ(app->forms().find<settings::IdPassForm>(), nullptr) << "no login was attempted";
}

TEST_F(ShellLauncher, AccountRequestBringsBackAMinimisedAccountDialog)
{
    auto* account = app->forms().get<settings::IdPassForm>();
    account->showMinimized();
    shell::ReceiveHost host(*app, *launcher);
    host.requestAccount();
    EXPECT_TRUE(account->isVisible());
    EXPECT_FALSE(account->isMinimized());
}

TEST_F(ShellLauncher, HistoryLabelsShareOneViewerAndAddressBookLabelShowsTheBook)
{
    storage::MailRecord sent;
    sent.Subject = QStringLiteral("送った件名");
    ASSERT_TRUE(storage::HistoryFile(dir.appDir(), storage::HistoryKind::Sent).AppendRecord(sent).isOk());

    click("Label6");
    auto* viewer = app->forms().find<history::TyakuForm>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("送信履歴"));
    EXPECT_EQ(control<QLineEdit>(viewer, QStringLiteral("Text2"))->text(), QStringLiteral("1"));

    click("Label7");
    EXPECT_EQ(app->forms().find<history::TyakuForm>(), viewer) << "the same window";
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(app->state().HistoryKind, 1);
    EXPECT_EQ(control<QLineEdit>(viewer, QStringLiteral("Text2"))->text(), QStringLiteral("0"));

    click("Label10");
    auto* book = app->forms().find<addressbook::FriendForm>();
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->isVisible());
}

TEST_F(ShellLauncher, SettingsLabelShowsTheOneSettingsHub)
{
    click("Label11");
    auto* hub = app->forms().find<settings::SetForm>();
    ASSERT_NE(hub, nullptr);
    EXPECT_TRUE(hub->isVisible());
    click("Label11");
    EXPECT_EQ(app->forms().find<settings::SetForm>(), hub);
    EXPECT_EQ(QApplication::topLevelWidgets().count(hub), 1);
}

TEST_F(ShellLauncher, ClickIsPressAndReleaseOnTheSameLabel)
{
    QTest::mousePress(label("Label11"), Qt::LeftButton);
    QTest::mouseRelease(label("Label11"), Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_EQ(app->forms().find<settings::SetForm>(), nullptr) << "released outside";
    QTest::mouseClick(label("Label11"), Qt::RightButton);
    EXPECT_EQ(app->forms().find<settings::SetForm>(), nullptr) << "right button";
}

TEST_F(ShellLauncher, HomePageOpensInBrowserAndNoBrowserIsSilent)
{
    click("Label5");
    ASSERT_EQ(ui.openedUrls().size(), 1u);
    const QUrl manual = ui.openedUrls().front();
    EXPECT_TRUE(manual.isLocalFile()) << manual.toString().toStdString();
    EXPECT_EQ(QFileInfo(manual.toLocalFile()).absoluteFilePath(),
              QDir(dir.appDir().root()).absoluteFilePath(QStringLiteral("manual/index.html")))
        << "the manual installed beside the program";

    ui.setBrowserWorks(false);
    click("Label5");
    EXPECT_EQ(ui.openedUrls().size(), 2u);
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(ShellLauncher, SmallMinimisesTheLauncher)
{
    click("Label4");
    EXPECT_TRUE(launcher->windowState() & Qt::WindowMinimized);
}

TEST_F(ShellLauncher, ClockBoxShowsDateTwoBlanksAndTimeWithSecondsEverySecond)
{
    auto* timer = launcher->findChild<QTimer*>(QStringLiteral("Timer2"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(timer->isActive());

    const QString first = launcher->clockBoxText();
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    EXPECT_TRUE(first.startsWith(today + QStringLiteral("  "))) << first.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return launcher->clockBoxText() != first; }, 3000))
        << "the clock ticks";
    EXPECT_EQ(control<QLineEdit>(launcher, QStringLiteral("Text2"))->text(),
              launcher->clockBoxText());
}

TEST(ShellClockText, ShortDateTwoBlanksLongTimeWithoutZone)
{
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7));
    EXPECT_EQ(ui::clockText(when, QLocale(QLocale::C)), QStringLiteral("8 Dec 2026  09:05:07"));
    EXPECT_EQ(ui::clockText(when, QLocale(QStringLiteral("en_US"))),
              QStringLiteral("12/8/26  9:05:07 AM"));
    EXPECT_EQ(ui::clockText(when, QLocale(QStringLiteral("ja_JP"))),
              QStringLiteral("2026/12/08  9時05分07秒"));
    EXPECT_EQ(ui::clockText(when, QLocale(QStringLiteral("zh_CN"))),
              QStringLiteral("2026/12/8  09:05:07"));
}

TEST(ShellClockText, EveryLocaleKeepsSecondsAndNoZoneName)
{
    const QDateTime when(QDate(2026, 12, 8), QTime(23, 59, 58));
    for (const char* name : {"C", "de_DE", "fr_FR", "ko_KR", "ar_EG", "hi_IN", "fi_FI"}) {
        const QString text = ui::clockText(when, QLocale(QString::fromLatin1(name)));
        const QString locale = QString::fromLatin1(name);
        EXPECT_TRUE(text.contains(QLocale(locale).toString(58))) << name << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("UTC"))) << name << text.toStdString();
        EXPECT_EQ(text.count(QStringLiteral("  ")), 1) << name << text.toStdString();
    }
}

} // namespace
} // namespace corvidan::test
