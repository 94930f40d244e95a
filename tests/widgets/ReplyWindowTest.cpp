#include "compose/BackForm.h"
#include "shell/Application.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace corvidan;
using compose::BackForm;
using test::control;

namespace {

class ReplyWindow : public ::testing::Test {
protected:
    ReplyWindow() : app(dir.appDir(), ui) {}

    BackForm* form() { return app.forms().get<BackForm>(); }
    template <class T>
    T* find(const char* name)
    {
        return control<T>(form(), QString::fromLatin1(name));
    }
    QString text(const char* name) { return find<QLineEdit>(name)->text(); }
    void click(const char* name) { find<QPushButton>(name)->click(); }
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    /// A control's extent in twips; one pixel is 15 twips.
    static int twips(int pixels) { return ui::tw(pixels); }
    static QClipboard* clipboard() { return QGuiApplication::clipboard(); }

    test::TempAppDir dir;
    test::ScriptedUi ui;
    shell::Application app;
};

constexpr int OnePixel = ui::TwipsPerPixel;

} // namespace

TEST_F(ReplyWindow, LoadsWithItsControlsAndTheAttachmentBoxAt2800)
{
    BackForm* f = form();
    EXPECT_EQ(f->windowTitle(), QStringLiteral("返事を書く"));
    EXPECT_EQ(find<QPushButton>("Command2")->text(), QStringLiteral("送信"));
    EXPECT_EQ(find<QPushButton>("Command3")->text(), QStringLiteral("送信中止"));
    EXPECT_EQ(find<QPushButton>("Command4")->text(), QStringLiteral("本文に貼付"));
    EXPECT_EQ(find<QPushButton>("AttachCommand")->text(), QStringLiteral("添付"));
    EXPECT_EQ(find<QPushButton>("Command9")->text(), QStringLiteral("追加"));
    EXPECT_EQ(find<QPushButton>("Command10")->text(), QStringLiteral("取り消し"));
    EXPECT_EQ(find<QLabel>("Label2_0")->text(), QStringLiteral("宛先"));
    EXPECT_EQ(find<QLabel>("Label2_1")->text(), QStringLiteral("題名"));
    EXPECT_EQ(find<QLabel>("Label2_2")->text(), QStringLiteral("添付File"));
    EXPECT_NE(find<QStatusBar>("StatusBar1"), nullptr);
    EXPECT_EQ(find<QTextEdit>("BodyText")->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));

    EXPECT_EQ(find<QLineEdit>("AttachText")->width(), ui::px(2800));
    EXPECT_TRUE(find<QListWidget>("List2")->isHidden());
    EXPECT_TRUE(find<QPushButton>("AttachCommand")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("Command9")->isEnabled());
    EXPECT_EQ(find<QLineEdit>("ToText")->geometry().topLeft(), QPoint(ui::px(1080), ui::px(600)));
    EXPECT_EQ(find<QLineEdit>("SubjectText")->y(), ui::px(960));
    EXPECT_EQ(find<QTextEdit>("BodyText")->geometry().topLeft(), QPoint(0, ui::px(1680)));
}

TEST_F(ReplyWindow, SubjectAndBodyTakeJapaneseThroughTheInputMethod)
{
    auto* subject = find<QLineEdit>("SubjectText");
    auto* body = find<QTextEdit>("BodyText");
    test::expectInputMethodTyping(subject, [&] { return subject->text(); });
    test::expectInputMethodTyping(body, [&] { return body->toPlainText(); });
}

TEST_F(ReplyWindow, ReplyFillTrimsBlanksAndPrefixesTheSubject)
{
    EXPECT_EQ(BackForm::replySubject(QStringLiteral("Hello")), QStringLiteral("Re:  Hello"));
    EXPECT_EQ(BackForm::replySubject(QStringLiteral("  会議の件  ")), QStringLiteral("Re:  会議の件"));
    EXPECT_EQ(BackForm::replySubject(QString()), QStringLiteral("Re:  "));
    // Full-width blanks belong to the subject.
    EXPECT_EQ(BackForm::replySubject(QStringLiteral("　件名　 ")), QStringLiteral("Re:  　件名　"));

    form()->FillReply(QStringLiteral(" test "), QStringLiteral("  a@example.jp "),
                      QStringLiteral("  本文\r\n二行目  "));
    EXPECT_EQ(text("SubjectText"), QStringLiteral("Re:  test"));
    EXPECT_EQ(text("ToText"), QStringLiteral("a@example.jp"));
    EXPECT_EQ(form()->bodyText(), QStringLiteral("本文\r\n二行目"));
}

TEST_F(ReplyWindow, RebuildsTheBodyFromClipboardAndTheLastReceivedBody)
{
    app.state().ReceivedRecord.Body = QStringLiteral("abc") + QString(40, u' ');
    clipboard()->setText(QStringLiteral("ok"));
    form()->FillReply(QStringLiteral("s"), QStringLiteral("a"), QStringLiteral("the reply so far"));
    click("Command4");
    EXPECT_EQ(clipboard()->text(), QStringLiteral("ok\r\n\r\n\r\n\rabc"));
    // The box holds four breaks; the lone CR is one of them.
    EXPECT_EQ(find<QTextEdit>("BodyText")->toPlainText(), QStringLiteral("ok\n\n\n\nabc"));
    EXPECT_EQ(form()->bodyText(), QStringLiteral("ok\r\n\r\n\r\n\r\nabc"));
}

TEST_F(ReplyWindow, RebuildWithAnEmptyClipboardKeepsTheLeadingBreaks)
{
    app.state().ReceivedRecord.Body = QStringLiteral("  abc  ");
    clipboard()->clear();
    click("Command4");
    EXPECT_EQ(clipboard()->text(), QStringLiteral("\r\n\r\n\r\n\rabc"));
    EXPECT_EQ(find<QTextEdit>("BodyText")->toPlainText(), QStringLiteral("\n\n\n\nabc"));

    // Blanks around the clipboard text go; blanks inside stay.
    clipboard()->setText(QStringLiteral("  x y  "));
    click("Command4");
    EXPECT_EQ(clipboard()->text(), QStringLiteral("  x y  \r\n\r\n\r\n\rabc"));
    EXPECT_EQ(find<QTextEdit>("BodyText")->toPlainText(), QStringLiteral("x y  \n\n\n\nabc"));
}

TEST_F(ReplyWindow, ResizeRuleSetsWidthsLeftsAndBodyHeight)
{
    BackForm* f = form();
    f->show();
    // The rule's examples are outer sizes: a window 10000 wide and 8000 high.
    f->resize(ui::clientSizeForOuterTw(10000, 8000));
    f->Form_Resize();
    EXPECT_NEAR(twips(find<QTextEdit>("BodyText")->width()), 9900, OnePixel);
    EXPECT_NEAR(twips(find<QLineEdit>("ToText")->width()), 7000, OnePixel);
    EXPECT_NEAR(twips(find<QLineEdit>("SubjectText")->width()), 7000, OnePixel);
    EXPECT_NEAR(twips(find<QLineEdit>("AttachText")->width()), 4000, OnePixel);
    EXPECT_NEAR(twips(find<QPushButton>("AttachCommand")->x()), 5240, OnePixel);
    EXPECT_NEAR(twips(find<QPushButton>("Command9")->x()), 6060, OnePixel);
    EXPECT_NEAR(twips(find<QPushButton>("Command10")->x()), 6940, OnePixel);
    EXPECT_NEAR(twips(find<QTextEdit>("BodyText")->height()), 5600, OnePixel);
    EXPECT_EQ(find<QPushButton>("AttachCommand")->y(), ui::px(1320));

    // At 3500 high or less only the widths follow.
    const int bodyHeight = find<QTextEdit>("BodyText")->height();
    f->resize(ui::clientSizeForOuterTw(6000, 3500));
    f->Form_Resize();
    EXPECT_EQ(find<QTextEdit>("BodyText")->height(), bodyHeight);
    EXPECT_NEAR(twips(find<QTextEdit>("BodyText")->width()), 5940, OnePixel);
}

TEST_F(ReplyWindow, AttachmentButtonsBehaveAsTheComposeWindows)
{
    click("AttachCommand");
    EXPECT_FALSE(find<QPushButton>("AttachCommand")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("Command9")->isEnabled());
    EXPECT_TRUE(text("AttachText").isEmpty());

    // "追加" with nothing attached only shows the list.
    click("Command9");
    EXPECT_FALSE(find<QListWidget>("List2")->isHidden());
    EXPECT_EQ(find<QListWidget>("List2")->count(), 0);

    click("Command10");
    EXPECT_TRUE(find<QListWidget>("List2")->isHidden());
    EXPECT_FALSE(find<QPushButton>("Command10")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("Command9")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("AttachCommand")->isEnabled());

    ui.queueFileName(QStringLiteral("/tmp/a.txt"));
    click("AttachCommand");
    ui.queueFileName(QStringLiteral("/tmp/写真.jpg"));
    click("Command9");
    ui.queueFileName(std::nullopt);
    click("Command9");
    EXPECT_EQ(text("AttachText"), QStringLiteral("/tmp/a.txt,/tmp/写真.jpg"));
    auto* list = find<QListWidget>("List2");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("/tmp/写真.jpg"));
    EXPECT_FALSE(list->isHidden());

    // "取り消し" stays disabled until the window is loaded again.
    EXPECT_FALSE(find<QPushButton>("Command10")->isEnabled());
    click("Command10");
    EXPECT_EQ(list->count(), 2);
    form()->Command10_Click();
    EXPECT_TRUE(text("AttachText").isEmpty());
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(list->isHidden());
}

TEST_F(ReplyWindow, StopClosesWithoutSendingAndEmptiesTheBody)
{
    BackForm* f = form();
    f->show();
    f->FillReply(QStringLiteral("s"), QStringLiteral("a@example.jp"), QStringLiteral("body"));
    QTextEdit* body = find<QTextEdit>("BodyText");
    QPointer<QTextEdit> watch(body);
    click("Command3");
    EXPECT_TRUE(body->toPlainText().isEmpty());
    settle();
    EXPECT_EQ(app.forms().find<BackForm>(), nullptr);
    EXPECT_TRUE(watch.isNull());
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(ReplyWindow, AFailedSendShowsTheLibraryTextAndKeepsTheReplyOpen)
{
    // Nothing listens on port 1 of the loopback address.
    app.state().server.SmtpServer = QStringLiteral("127.0.0.1:1");
    app.state().server.MailAddress = QStringLiteral("me@example.jp");
    BackForm* f = form();
    f->show();
    f->FillReply(QStringLiteral("s"), QStringLiteral("you@example.jp"), QStringLiteral("body"));
    click("Command2");
    settle();
    ASSERT_EQ(ui.shown().size(), 1u);
    const test::ScriptedUi::Shown& box = ui.shown()[0];
    EXPECT_EQ(box.title, QStringLiteral("送信エラー"));
    EXPECT_EQ(box.buttons, ui::MsgButtons::Ok);
    EXPECT_EQ(box.icon, ui::MsgIcon::None);
    EXPECT_FALSE(box.text.isEmpty());
    // Nothing typed is lost: the cause can be fixed and the reply sent again.
    EXPECT_EQ(app.forms().find<BackForm>(), f);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(text("ToText"), QStringLiteral("you@example.jp"));
    EXPECT_EQ(f->bodyText(), QStringLiteral("body"));
    EXPECT_FALSE(QFile::exists(dir.path(common::paths::SentHistory)));
}
