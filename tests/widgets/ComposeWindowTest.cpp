#include "compose/SendMail.h"
#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "shell/Application.h"
#include "shell/MainForm.h"
#include "storage/AddressBookFile.h"
#include "storage/HistoryFile.h"
#include "support/Controls.h"
#include "support/RecordingSender.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextCursor>
#include <gtest/gtest.h>

using namespace corvidan;
using compose::WriteForm;
using test::control;

namespace {

struct ComposeWindow : ::testing::Test {
    test::TempAppDir tmp;
    test::ScriptedUi ui;
    shell::Application app{tmp.appDir(), ui};
    QPointer<WriteForm> form = app.forms().get<WriteForm>();

    template <class T>
    T* c(const char* name)
    {
        return control<T>(form, QString::fromLatin1(name));
    }
    void addToBook(const QString& name, const QString& address)
    {
        storage::AddressRecord r;
        r.Name = name;
        r.Address = address;
        ASSERT_TRUE(storage::AddressBookFile::addressBook(tmp.appDir()).AppendRecord(r));
    }
    void pressRow(int row)
    {
        auto* list = c<QListWidget>("List1");
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
    /// Client size for an outer size the window's handlers set.
    static QSize outer(int widthTw, int heightTw)
    {
        return ui::clientSizeForOuterTw(widthTw, heightTw);
    }
    static void hover(QWidget* w)
    {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(w, &enter);
    }
};

struct Place {
    const char* name;
    int left, top, width, height;
};

} // namespace

TEST_F(ComposeWindow, ControlsSitWhereTheDesignPutsThem)
{
    // left, top, width, height in twips; inside a container relative to it.
    const Place table[] = {
        {"Command1", 120, 120, 1335, 375},     {"Command3", 120, 600, 1335, 375},
        {"Command4", 1680, 120, 1335, 375},    {"Command5", 1680, 600, 1335, 375},
        {"Command6", 3240, 120, 1335, 375},    {"Command7", 3240, 600, 1335, 375},
        {"Command8", 4680, 120, 1455, 375},    {"Command11", 4680, 600, 1455, 375},
        {"Picture2_0", 120, 1200, 1095, 300},  {"Picture2_1", 120, 1560, 1095, 300},
        {"Picture2_2", 120, 1920, 1095, 300},  {"Picture2_3", 120, 2640, 1095, 300},
        {"ToText", 1200, 1200, 5415, 300},     {"SubjectText", 1200, 1560, 5415, 300},
        {"Combo1", 1200, 1920, 5415, 300},     {"AttachCommand", 120, 2280, 855, 300},
        {"Command9", 960, 2280, 855, 300},     {"Command10", 1800, 2280, 855, 300},
        {"AttachText", 2640, 2280, 3975, 300}, {"List2", 2640, 2280, 3975, 1860},
        {"Picture7", 1200, 2640, 4935, 300},   {"Check1", 6240, 2640, 255, 300},
        {"BodyText", 120, 3000, 6495, 4335},   {"Text14", 840, 3840, 5175, 2655},
        {"Picture6", 120, 7320, 6495, 375},    {"Label7", 120, 120, 6015, 300},
        {"Picture5", 6960, 1200, 2350, 6495},  {"Picture1", 120, 120, 2055, 495},
        {"List1", 120, 600, 2055, 5100},       {"Frame4", 120, 5760, 2055, 615},
        {"Text4", 1560, 8115, 2295, 375},      {"Command2", 9720, 3960, 720, 240},
    };
    for (const Place& p : table) {
        QWidget* w = c<QWidget>(p.name);
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), ui::rectTw(p.left, p.top, p.width, p.height)) << p.name;
    }
    EXPECT_EQ(c<QWidget>("Label7")->parentWidget()->objectName(), QStringLiteral("Picture6"));
    EXPECT_EQ(c<QWidget>("List1")->parentWidget()->objectName(), QStringLiteral("Picture5"));
    EXPECT_EQ(c<QWidget>("Label3")->parentWidget()->objectName(), QStringLiteral("Picture7"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("新規作成・送信"));
    EXPECT_EQ(form->size(), outer(7100, 8200));
    // The panel starting at 6960 lies outside the narrow window, inside the wide one.
    EXPECT_GE(c<QWidget>("Picture5")->x(), form->width());
    EXPECT_GE(c<QWidget>("Text4")->y(), form->height());

    const std::pair<const char*, const char*> captions[] = {
        {"Command1", "送信"},       {"Command3", "送信中止"},   {"Command4", "アドレス帳"},
        {"Command5", "本文に貼付"}, {"Command6", "元のサイズ"}, {"Command7", "宛先に貼付"},
        {"Command8", "顔・絵文字"}, {"Command11", "クリア"},    {"AttachCommand", "添付File"},
        {"Command9", "追加"},       {"Command10", "取り消し"},  {"Command2", "貼付け"},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(c<QPushButton>(name)->text(), QString::fromUtf8(caption)) << name;
    EXPECT_EQ(c<QRadioButton>("Option2")->text(), QStringLiteral("一括送信"));
    EXPECT_EQ(c<QRadioButton>("Option1")->text(), QStringLiteral("取消"));
    EXPECT_EQ(c<QLabel>("Label2_3")->text(), QStringLiteral("占い添付"));
}

TEST_F(ComposeWindow, FreshInstallLoadsEmptyListAndDesignState)
{
    EXPECT_EQ(c<QListWidget>("List1")->count(), 0);
    EXPECT_EQ(c<QLineEdit>("Text1")->text(), QStringLiteral("0"));
    EXPECT_TRUE(QFileInfo::exists(tmp.path(common::paths::ComposeList)));
    EXPECT_EQ(QFileInfo(tmp.path(common::paths::ComposeList)).size(), 0);
    EXPECT_EQ(form->ListRecordNo().size(), 1u);

    auto* combo = c<QComboBox>("Combo1");
    ASSERT_EQ(combo->count(), 8);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"));
    EXPECT_EQ(combo->itemText(7), QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"));
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(c<QLineEdit>("ToText")->maxLength(), 60);
    EXPECT_FALSE(c<QRadioButton>("Option2")->isChecked());
    EXPECT_FALSE(c<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(c<QPushButton>("Command9")->isEnabled());
    EXPECT_TRUE(c<QPushButton>("Command10")->isEnabled());
    EXPECT_TRUE(c<QPushButton>("AttachCommand")->isEnabled());
    EXPECT_TRUE(c<QWidget>("List2")->isHidden());
    EXPECT_TRUE(c<QWidget>("Command2")->isHidden());
    EXPECT_FALSE(c<QWidget>("Command2")->isEnabled());
    EXPECT_TRUE(c<QWidget>("Text3")->isHidden());
}

TEST_F(ComposeWindow, ComposeListFileRowsAreListedUntrimmed)
{
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(form.isNull());
    storage::AddressRecord r;
    r.Name = QStringLiteral("常連");
    r.Address = QStringLiteral("x@example.jp");
    ASSERT_TRUE(storage::AddressBookFile::composeList(tmp.appDir()).AppendRecord(r));
    form = app.forms().get<WriteForm>();
    auto* list = c<QListWidget>("List1");
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("常連 ")));
    EXPECT_EQ(c<QLineEdit>("Text1")->text(), QStringLiteral("1"));
}

TEST_F(ComposeWindow, AddressPanelWidensListsAndPicksTrimmedAddress)
{
    addToBook(QStringLiteral("一郎"), QStringLiteral("  ichiro@example.jp  "));
    addToBook(QStringLiteral("二郎"), QStringLiteral(" jiro@example.jp"));
    addToBook(QStringLiteral("長い"), QString(70, u'a'));
    c<QPushButton>("Command4")->click();
    EXPECT_EQ(form->size(), outer(9700, 8200));
    EXPECT_LE(c<QWidget>("Picture5")->geometry().right(), form->width());
    auto* list = c<QListWidget>("List1");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(c<QLineEdit>("Text1")->text(), QStringLiteral("3"));
    EXPECT_EQ(form->ListRecordNo(), (std::vector<std::int16_t>{1, 2, 3, 0}));
    EXPECT_TRUE(list->item(1)->text().startsWith(QStringLiteral("二郎")));

    pressRow(1);
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QStringLiteral("jiro@example.jp"));
    pressRow(0);
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QStringLiteral("ichiro@example.jp"));
    pressRow(2);
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QString(60, u'a'));
    EXPECT_TRUE(ui.shown().empty());

    c<QPushButton>("Command6")->click();
    EXPECT_EQ(form->size(), outer(7100, 8200));
}

TEST_F(ComposeWindow, PickingWithoutSelectionWarns)
{
    c<QLineEdit>("ToText")->setText(QStringLiteral("keep@example.jp"));
    auto* list = c<QListWidget>("List1");
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("データが選択されていません"));
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::Warning);
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::Ok);
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QStringLiteral("keep@example.jp"));
}

TEST_F(ComposeWindow, BulkAndSingleModeColourTheList)
{
    auto* list = c<QListWidget>("List1");
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(255, 255, 255));
    c<QRadioButton>("Option2")->click();
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(0, 128, 0));
    c<QLineEdit>("ToText")->setText(QStringLiteral("a@example.jp"));
    c<QRadioButton>("Option1")->click();
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_TRUE(c<QLineEdit>("ToText")->text().isEmpty());
    // Back to the narrow window keeps the mode but whitens the list.
    c<QRadioButton>("Option2")->click();
    c<QPushButton>("Command6")->click();
    EXPECT_TRUE(c<QRadioButton>("Option2")->isChecked());
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(255, 255, 255));
}

TEST_F(ComposeWindow, AttachmentButtonsFollowTheirStates)
{
    auto* attach = c<QPushButton>("AttachCommand");
    auto* add = c<QPushButton>("Command9");
    auto* drop = c<QPushButton>("Command10");
    auto* text = c<QLineEdit>("AttachText");
    auto* files = c<QListWidget>("List2");

    ui.queueFileName(std::nullopt);
    attach->click();
    EXPECT_FALSE(attach->isEnabled());
    EXPECT_TRUE(add->isEnabled());
    EXPECT_TRUE(text->text().isEmpty());
    add->click(); // empty list: only shows it
    EXPECT_FALSE(files->isHidden());
    EXPECT_EQ(files->count(), 0);

    drop->click();
    EXPECT_TRUE(attach->isEnabled());
    EXPECT_FALSE(add->isEnabled());
    EXPECT_FALSE(drop->isEnabled());
    EXPECT_TRUE(files->isHidden());

    ui.queueFileName(QStringLiteral("/tmp/a.txt"));
    attach->click();
    ui.queueFileName(QStringLiteral("/tmp/b 2.pdf"));
    add->click();
    ui.queueFileName(std::nullopt);
    add->click();
    EXPECT_EQ(text->text(), QStringLiteral("/tmp/a.txt,/tmp/b 2.pdf"));
    ASSERT_EQ(files->count(), 2);
    EXPECT_EQ(files->item(1)->text(), QStringLiteral("/tmp/b 2.pdf"));
    // The drop button stays off until the window is loaded again.
    EXPECT_FALSE(drop->isEnabled());

    c<QPushButton>("Command11")->click();
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_EQ(files->count(), 0);
    EXPECT_TRUE(attach->isEnabled());
    EXPECT_FALSE(add->isEnabled());
}

TEST_F(ComposeWindow, AttachmentListCoversNeitherTheFortuneSwitchNorTheBodysFirstLine)
{
    auto* files = c<QListWidget>("List2");
    auto* body = c<QPlainTextEdit>("BodyText");
    const QRect bodyAtRest = body->geometry();
    body->setPlainText(QStringLiteral("一行目\n二行目"));
    ui.queueFileName(QStringLiteral("/tmp/a.txt"));
    c<QPushButton>("AttachCommand")->click();
    ui.queueFileName(QStringLiteral("/tmp/b.txt"));
    c<QPushButton>("Command9")->click();
    ASSERT_FALSE(files->isHidden());
    EXPECT_EQ(files->geometry(), ui::rectTw(2640, 2280, 3975, 1860)) << "the list keeps its place";

    QTextCursor start(body->document());
    const QRect caret = body->cursorRect(start).translated(body->viewport()->mapTo(form, QPoint()));
    const QRect firstLine(body->geometry().left(), caret.top(), body->width(), caret.height());
    EXPECT_TRUE(body->geometry().contains(firstLine));
    for (const char* name : {"Check1", "Picture7", "Picture2_3"}) {
        const QRect other = c<QWidget>(name)->geometry();
        EXPECT_FALSE(files->geometry().intersects(other)) << name;
        EXPECT_TRUE(form->rect().contains(other)) << name;
    }
    EXPECT_FALSE(files->geometry().intersects(firstLine));
    EXPECT_FALSE(files->geometry().intersects(body->geometry()));
    EXPECT_EQ(body->geometry().bottom(), bodyAtRest.bottom()) << "the body gives up its top only";
    EXPECT_GT(body->height(), bodyAtRest.height() / 2);

    // Dropping the attachments puts every row back where the design has it.
    c<QPushButton>("Command10")->click();
    EXPECT_TRUE(files->isHidden());
    EXPECT_EQ(body->geometry(), bodyAtRest);
    EXPECT_EQ(c<QWidget>("Check1")->geometry(), ui::rectTw(6240, 2640, 255, 300));
    EXPECT_EQ(c<QWidget>("Picture7")->geometry(), ui::rectTw(1200, 2640, 4935, 300));
    EXPECT_EQ(c<QWidget>("Picture2_3")->geometry(), ui::rectTw(120, 2640, 1095, 300));
}

// Japanese is typed through an input method: the reading shows as preedit,
// only the word the user accepts becomes text.
TEST_F(ComposeWindow, SubjectAndBodyTakeJapaneseThroughTheInputMethod)
{
    auto* subject = c<QLineEdit>("SubjectText");
    auto* body = c<QPlainTextEdit>("BodyText");
    subject->setText(QStringLiteral("件名："));
    test::expectInputMethodTyping(subject, [&] { return subject->text(); });
    test::expectInputMethodTyping(body, [&] { return body->toPlainText(); });
    EXPECT_EQ(subject->text(), QStringLiteral("件名：日本語①㈱～ｶﾅ"));
}

TEST_F(ComposeWindow, PhraseBoxLosingFocusReplacesTheBody)
{
    auto* body = c<QPlainTextEdit>("BodyText");
    auto* combo = c<QComboBox>("Combo1");
    body->setPlainText(QStringLiteral("書きかけ"));
    combo->setCurrentIndex(3);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(combo, &popup);
    EXPECT_EQ(body->toPlainText(), QStringLiteral("書きかけ"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(combo, &out);
    EXPECT_EQ(body->toPlainText(), QStringLiteral("いつもお世話になっております。"));
    combo->setEditText(QString());
    QCoreApplication::sendEvent(combo, &out);
    EXPECT_TRUE(body->toPlainText().isEmpty());
}

TEST_F(ComposeWindow, ClipboardButtonsAppendAndReplace)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("貼る"));
    auto* body = c<QPlainTextEdit>("BodyText");
    body->setPlainText(QStringLiteral("一行目\n二行目"));
    c<QPushButton>("Command5")->click();
    EXPECT_EQ(body->toPlainText(), QStringLiteral("一行目\n二行目貼る"));
    c<QLineEdit>("ToText")->setText(QStringLiteral("old"));
    c<QPushButton>("Command7")->click();
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QStringLiteral("貼る"));
}

TEST_F(ComposeWindow, ClearKeepsWidePanelButReturnsToSingleMode)
{
    addToBook(QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp"));
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    c<QCheckBox>("Check1")->setChecked(true);
    c<QLineEdit>("SubjectText")->setText(QStringLiteral("件名"));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("本文"));
    c<QPushButton>("Command11")->click();
    EXPECT_EQ(form->size(), outer(9700, 8200));
    EXPECT_EQ(c<QListWidget>("List1")->count(), 1);
    EXPECT_FALSE(c<QRadioButton>("Option2")->isChecked());
    EXPECT_FALSE(c<QCheckBox>("Check1")->isChecked());
    EXPECT_EQ(c<QListWidget>("List1")->palette().color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_TRUE(c<QLineEdit>("SubjectText")->text().isEmpty());
    EXPECT_TRUE(c<QPlainTextEdit>("BodyText")->toPlainText().isEmpty());
}

TEST_F(ComposeWindow, HiddenPasteRowOpensOnlyForTheWord)
{
    auto* label7 = c<QLabel>("Label7");
    c<QLineEdit>("ToText")->setText(QStringLiteral("qoxe "));
    QTest::mouseDClick(label7, Qt::LeftButton);
    EXPECT_EQ(form->size(), outer(7100, 8200));
    c<QLineEdit>("ToText")->setText(QStringLiteral("qoxe"));
    QTest::mouseDClick(label7, Qt::LeftButton);
    EXPECT_EQ(form->size(), outer(7100, 8955));
    EXPECT_LE(c<QWidget>("Text4")->geometry().bottom(), form->height());
    auto* paste = c<QPushButton>("Command2");
    EXPECT_FALSE(paste->isHidden());
    EXPECT_TRUE(paste->isEnabled());
    QGuiApplication::clipboard()->setText(QStringLiteral("秘密"));
    paste->click();
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("秘密"));
}

TEST_F(ComposeWindow, HoverHintsShowAndHide)
{
    auto* hint = c<QPlainTextEdit>("Text14");
    hover(c<QPushButton>("Command3"));
    EXPECT_FALSE(hint->isHidden());
    EXPECT_EQ(hint->toPlainText(), QStringLiteral("送信を中止します。"));
    hover(c<QPushButton>("Command8"));
    const QString text = hint->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("顔・絵文字の本文への挿入を行います。\n\n使用方法：")));
    EXPECT_TRUE(text.contains(QStringLiteral("ボタンを。クリックしますと、本分中に挿入されます。\n\n素材")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("「お気に入りに追加」ボタンをクリックして下さい。")));
    EXPECT_EQ(WriteForm::command8Hint().count(QStringLiteral("\r\n")), 6);
    hover(c<QPlainTextEdit>("BodyText")->viewport());
    EXPECT_TRUE(hint->isHidden());
    hover(c<QPushButton>("AttachCommand"));
    EXPECT_EQ(hint->toPlainText(), QStringLiteral("各種ファイルを添付して送信できます。"));
    QMouseEvent move(QEvent::MouseMove, QPointF(form->width() - 5, 5), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &move);
    EXPECT_TRUE(hint->isHidden());
}

TEST_F(ComposeWindow, StopClosesWithoutRecording)
{
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("未送信"));
    c<QPushButton>("Command3")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).RecordCount(), 0);
}

TEST_F(ComposeWindow, FailedSendShowsOneErrorKeepsTheMessageAndNoRecord)
{
    test::SendLog log;
    log.failWith(QStringLiteral("接続できません"));
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QLineEdit>("ToText")->setText(QStringLiteral("you@example.jp"));
    c<QLineEdit>("SubjectText")->setText(QStringLiteral("件名"));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("一行目\n二行目"));
    c<QPushButton>("Command1")->click();
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(log.sent[0].body, QStringLiteral("一行目\r\n二行目"));
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("送信エラー"));
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("接続できません"));
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::None);
    EXPECT_EQ(storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).RecordCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(form.isNull());
    EXPECT_EQ(c<QLineEdit>("ToText")->text(), QStringLiteral("you@example.jp"));
    EXPECT_EQ(c<QLineEdit>("SubjectText")->text(), QStringLiteral("件名"));
    EXPECT_EQ(c<QPlainTextEdit>("BodyText")->toPlainText(), QStringLiteral("一行目\n二行目"));

    // With the cause fixed, 送信 again sends the same message once and records it.
    log.result = 0;
    c<QPushButton>("Command1")->click();
    ASSERT_EQ(log.sent.size(), 2u);
    EXPECT_EQ(log.sent[1].body, QStringLiteral("一行目\r\n二行目"));
    EXPECT_EQ(storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).RecordCount(), 1);
    EXPECT_EQ(app.state().CurrentRecordNo, 1);
    EXPECT_EQ(compose::trimBlanks(app.state().SentRecord.Address), QStringLiteral("you@example.jp"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
}

TEST_F(ComposeWindow, FortuneShowsInTheBodyBoxWhileSending)
{
    test::SendLog log;
    form->setSenderFactory(test::RecordingSender::factory(log));
    form->setFortuneDraw([] { return 0.0f; });
    c<QCheckBox>("Check1")->setChecked(true);
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("abc"));
    c<QPushButton>("Command1")->click();
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(log.sent[0].body, QStringLiteral("abc") + compose::fortune::block(1));
    EXPECT_EQ(compose::trimBlanks(app.state().SentRecord.Body), QStringLiteral("abc"));
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(ComposeWindow, UnwritableHistoryKeepsTheMessageOpen)
{
    ASSERT_TRUE(QDir().mkpath(tmp.path(common::paths::SentHistory)));
    test::SendLog log;
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPlainTextEdit>("BodyText")->setPlainText(QStringLiteral("大事な本文"));
    c<QPushButton>("Command1")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(form.isNull());
    EXPECT_TRUE(log.sent.empty());
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("送信していません")));
    EXPECT_EQ(c<QPlainTextEdit>("BodyText")->toPlainText(), QStringLiteral("大事な本文"));
}

TEST_F(ComposeWindow, SentRecordIsDatedByTheLaunchersClock)
{
    test::SendLog log;
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPushButton>("Command1")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(form.isNull());
    // Without a launcher: the launcher's format, date and time two blanks apart.
    EXPECT_TRUE(app.state().SentRecord.Date.contains(QStringLiteral("  ")));

    auto* launcher = app.forms().get<shell::MainForm>();
    ui.clear();
    auto* clock = control<QLineEdit>(launcher, QStringLiteral("Text2"));
    ASSERT_NE(clock, nullptr);
    form = app.forms().get<WriteForm>(); // loaded afresh by the launcher's start-up
    form->setSenderFactory(test::RecordingSender::factory(log));
    clock->setText(QStringLiteral("2026/12/08  1:02:03"));
    c<QPushButton>("Command1")->click();
    EXPECT_EQ(app.state().SentRecord.Date, QStringLiteral("2026/12/08  1:02:03"));
    const auto last = storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).ReadRecord(2);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(compose::trimBlanks(last->Date), QStringLiteral("2026/12/08  1:02:03"));
}

TEST_F(ComposeWindow, EmoticonButtonOpensThePaletteModeless)
{
    EXPECT_EQ(app.forms().find<emoticons::KaoForm>(), nullptr);
    c<QPushButton>("Command8")->click();
    auto* palette = app.forms().find<emoticons::KaoForm>();
    ASSERT_NE(palette, nullptr);
    EXPECT_TRUE(palette->isVisible());
    EXPECT_FALSE(palette->isModal());
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(ComposeWindow, WindowCannotCloseWhileSending)
{
    bool closedDuringSend = true;
    test::SendLog log;
    log.onSend = [&](const compose::OutgoingMail&) { closedDuringSend = form->close(); };
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPushButton>("Command1")->click();
    EXPECT_FALSE(closedDuringSend);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull()) << "the send itself still closes the window";
}

TEST_F(ComposeWindow, BulkSendShowsWhichRecipientIsBeingSent)
{
    addToBook(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    addToBook(QStringLiteral("二"), QStringLiteral("two@example.jp"));
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    QStringList statusAtSend;
    QLabel* status = c<QLabel>("Label7");
    test::SendLog log;
    log.onSend = [&](const compose::OutgoingMail&) { statusAtSend << status->text(); };
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPushButton>("Command1")->click();
    const QString sending = compose::SendMailOperation::sendingText();
    EXPECT_EQ(statusAtSend, (QStringList{sending + QStringLiteral("（1/2件目）"),
                                         sending + QStringLiteral("（2/2件目）")}));
    EXPECT_EQ(status->text(), QStringLiteral("送信完了です。"));
    ASSERT_EQ(ui.shownTexts(), QStringList{QStringLiteral("2件送信しました。")});
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("送信結果"));
}

TEST_F(ComposeWindow, BulkSendEndsWithOneBoxNamingEachFailedAddressAndWhy)
{
    addToBook(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    addToBook(QStringLiteral("二"), QStringLiteral("two@example.jp"));
    addToBook(QStringLiteral("三"), QStringLiteral("three@example.jp"));
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    test::SendLog log;
    log.onSend = [&](const compose::OutgoingMail& mail) {
        const bool refused = mail.to != QStringLiteral("two@example.jp");
        log.result = refused ? -1 : 0;
        log.error = QStringLiteral("550 no such user ") + mail.to;
    };
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPushButton>("Command1")->click();
    ASSERT_EQ(log.sent.size(), 3u);
    ASSERT_EQ(ui.shown().size(), 1u) << ui.shownTexts().join(u'|').toStdString();
    EXPECT_EQ(ui.shown()[0].text,
              QStringLiteral("1件送信しました。\r\n送信できなかった宛先（2件）:"
                             "\r\none@example.jp : 550 no such user one@example.jp"
                             "\r\nthree@example.jp : 550 no such user three@example.jp"));
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::Exclamation);
    // Bulk passes keep their records: each one names whom it was for.
    EXPECT_EQ(storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).RecordCount(), 3);
}

TEST_F(ComposeWindow, ClosingTheLauncherDuringABulkSendEndsItWithoutFurtherPasses)
{
    addToBook(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    addToBook(QStringLiteral("二"), QStringLiteral("two@example.jp"));
    addToBook(QStringLiteral("三"), QStringLiteral("three@example.jp"));
    auto* launcher = app.forms().get<shell::MainForm>();
    ui.clear();
    form = app.forms().get<WriteForm>();
    c<QPushButton>("Command4")->click();
    c<QRadioButton>("Option2")->click();
    c<QCheckBox>("Check1")->setChecked(true);
    form->setFortuneDraw([] { return 0.5f; });

    // The launcher's close reaches the program while the window repaints
    // between passes; here it comes during the first pass.
    test::SendLog log;
    log.onSend = [&](const compose::OutgoingMail&) {
        if (log.sent.size() == 1)
            launcher->close();
    };
    form->setSenderFactory(test::RecordingSender::factory(log));
    c<QPushButton>("Command1")->click();

    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(storage::HistoryFile(tmp.appDir(), storage::HistoryKind::Sent).RecordCount(), 1);
    EXPECT_TRUE(ui.shown().empty());
}
