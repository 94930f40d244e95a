#include "addressbook/FriendForm.h"
#include "shell/Application.h"
#include "storage/AddressBookFile.h"
#include "support/Beyond932.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"
#include "ui/Twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QFileInfo>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace corvidan;
using addressbook::FriendForm;
using test::control;

namespace {

struct AddressBookWindow : ::testing::Test {
    test::TempAppDir tmp;
    test::ScriptedUi ui;
    shell::Application app{tmp.appDir(), ui};
    QPointer<FriendForm> form = app.forms().get<FriendForm>();

    template <class T>
    T* c(const char* name)
    {
        return control<T>(form, QString::fromLatin1(name));
    }
    QTreeWidget* list() { return c<QTreeWidget>("MailListView"); }
    void registerEntry(const QString& name, const QString& address)
    {
        c<QLineEdit>("Text2")->setText(name);
        c<QLineEdit>("Text4")->setText(address);
        c<QPushButton>("Command3")->click();
    }
    void pressRow(int row)
    {
        const QPoint at = list()->visualItemRect(list()->topLevelItem(row)).center();
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, at);
    }
    QString cell(int row, int column) { return list()->topLevelItem(row)->text(column); }
    QByteArray bookBytes() const { return tmp.read(common::paths::AddressBook); }
    ino_t bookInode() const
    {
        struct stat st {};
        ::stat(QFile::encodeName(tmp.path(common::paths::AddressBook)).constData(), &st);
        return st.st_ino;
    }
};

} // namespace

TEST_F(AddressBookWindow, LayoutCaptionsAndLimits)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("アドレス帳"));
    EXPECT_EQ(form->size(), QSize(ui::px(8250), ui::px(6375)));
    EXPECT_EQ(form->size(), QSize(550, 425));
    const std::pair<const char*, const char*> captions[] = {
        {"Command1", "貼付"}, {"Command38", "名刺挿入"}, {"Command3", "登録"},
        {"Command4", "削除"}, {"Command2", "Command2"},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(c<QPushButton>(name)->text(), QString::fromUtf8(caption)) << name;
    EXPECT_EQ(c<QLineEdit>("Text4")->maxLength(), 60);
    EXPECT_FALSE(c<QLineEdit>("Text4")->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(c<QLineEdit>("Text2")->maxLength(), 30);
    EXPECT_TRUE(c<QLineEdit>("Text3")->isReadOnly());
    EXPECT_TRUE(c<QPlainTextEdit>("Text5")->isHidden());
    EXPECT_EQ(c<QLabel>("Label4")->text(),
              QStringLiteral("名刺は新規作成で宛先、１発挿入した際の確認用として使用します。"));
    EXPECT_EQ(c<QLabel>("Label7")->parentWidget()->objectName(), QStringLiteral("Picture1"));
    // Command2 lies outside the visible client area.
    EXPECT_FALSE(form->rect().intersects(c<QWidget>("Command2")->geometry()));
    const std::pair<const char*, const char*> labels[] = {
        {"Label1_0", "メールアドレス"}, {"Label1_1", "名前"}, {"Label1_2", "名刺"}, {"Label1_3", "登録件数"}};
    for (const auto& [name, caption] : labels)
        EXPECT_EQ(c<QLabel>(name)->text(), QString::fromUtf8(caption)) << name;
    // The two decoration pictures are seen and cover no control the user works with.
    for (const char* name : {"Image1", "Image2"}) {
        auto* picture = c<QLabel>(name);
        EXPECT_FALSE(picture->pixmap().isNull()) << name;
        EXPECT_TRUE(form->rect().contains(picture->geometry())) << name;
        for (const char* other : {"Text4", "Command1", "Text2", "Text3", "Text50", "Command38", "Command3",
                                  "Command4", "MailListView", "Label4"})
            EXPECT_FALSE(picture->geometry().intersects(c<QWidget>(other)->geometry())) << name << " " << other;
    }

    QTreeWidget* view = list();
    ASSERT_EQ(view->columnCount(), 2);
    EXPECT_EQ(view->headerItem()->text(0), QStringLiteral("Address"));
    EXPECT_EQ(view->headerItem()->text(1), QStringLiteral("Name"));
    EXPECT_EQ(view->columnWidth(0), view->width() / 2);
    EXPECT_EQ(view->columnWidth(1), view->width() / 3);
    // The list sits between the buttons and the status strip.
    EXPECT_GT(view->geometry().top(), c<QWidget>("Command4")->geometry().bottom());
    EXPECT_LT(view->geometry().bottom(), c<QWidget>("Picture1")->geometry().top());
}

TEST_F(AddressBookWindow, FirstRegistrationBecomesRecordOne)
{
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_EQ(c<QLineEdit>("Text3")->text(), QStringLiteral("0"));
    EXPECT_TRUE(c<QLabel>("Label7")->text().isEmpty());

    registerEntry(QStringLiteral("山田"), QStringLiteral("yamada@example.jp"));
    EXPECT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(c<QLineEdit>("Text3")->text(), QStringLiteral("1"));
    EXPECT_EQ(c<QLabel>("Label7")->text(), QStringLiteral("　登録が完了しました。"));
    EXPECT_EQ(app.state().CurrentRecordNo, 1);
    const QByteArray bytes = bookBytes();
    ASSERT_EQ(bytes.size(), 184);
    EXPECT_TRUE(bytes.startsWith(QByteArray("\x8eR\x93\x63  ", 6)));
    // Trailing blanks of the stored field stay in the list cells.
    EXPECT_EQ(cell(0, 0), QStringLiteral("yamada@example.jp").leftJustified(90, u' '));
    EXPECT_TRUE(cell(0, 1).startsWith(QStringLiteral("山田 ")));

    registerEntry(QString(), QString());
    EXPECT_EQ(list()->topLevelItemCount(), 2);
    EXPECT_TRUE(cell(1, 0).trimmed().isEmpty());
}

TEST_F(AddressBookWindow, RowPressFillsTrimmedBoxesKeyboardDoesNot)
{
    registerEntry(QStringLiteral(" 花子 "), QStringLiteral("  hanako@example.jp"));
    registerEntry(QStringLiteral("太郎"), QStringLiteral("taro@example.jp"));
    c<QLineEdit>("Text2")->clear();
    c<QLineEdit>("Text4")->clear();
    list()->setCurrentItem(list()->topLevelItem(1));
    EXPECT_TRUE(c<QLineEdit>("Text4")->text().isEmpty());
    pressRow(0);
    EXPECT_EQ(c<QLineEdit>("Text2")->text(), QStringLiteral("花子"));
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("hanako@example.jp"));
    EXPECT_EQ(c<QLabel>("Label7")->text(), QStringLiteral("　選択しました。"));
}

TEST_F(AddressBookWindow, NameCardWrapsTrimmedAddressAndCutsAtSixty)
{
    c<QLineEdit>("Text4")->setText(QStringLiteral(" abc "));
    c<QLineEdit>("Text50")->setText(QStringLiteral("N"));
    c<QPushButton>("Command38")->click();
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("N<abc>"));
    c<QPushButton>("Command38")->click();
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("N<N<abc>>"));

    const QString address = QStringLiteral("very.long.name.of.the.sales.office@example.co.jp");
    const QString card = QStringLiteral("株式会社サンプル　営業部　山田太郎様ご担当");
    c<QLineEdit>("Text4")->setText(address);
    c<QLineEdit>("Text50")->setText(card);
    c<QPushButton>("Command38")->click();
    const QString full = card + u'<' + address + u'>';
    ASSERT_GT(full.size(), 60);
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), full.left(60));
    EXPECT_FALSE(c<QLineEdit>("Text4")->text().endsWith(u'>'));
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(AddressBookWindow, NameCardNeedsBothBoxes)
{
    c<QLineEdit>("Text50")->setText(QStringLiteral("N"));
    c<QPushButton>("Command38")->click();
    c<QLineEdit>("Text4")->setText(QStringLiteral("a@example.jp"));
    c<QLineEdit>("Text50")->clear();
    c<QPushButton>("Command38")->click();
    EXPECT_EQ(ui.shownTexts(), (QStringList{QStringLiteral("メールアドレスが入力されていません"),
                                            QStringLiteral("名詞が入力されていません")}));
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::None);
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("a@example.jp"));
}

TEST_F(AddressBookWindow, DeletingRowTwoOfThreeMovesRowThreeUp)
{
    registerEntry(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    registerEntry(QStringLiteral("二"), QStringLiteral("two@example.jp"));
    registerEntry(QStringLiteral("三"), QStringLiteral("three@example.jp"));
    pressRow(1);
    ui.queueAnswer(ui::MsgAnswer::Yes);
    c<QPushButton>("Command4")->click();
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text,
              QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    EXPECT_EQ(ui.shown()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(ui.shown()[0].buttons, ui::MsgButtons::YesNoDefaultNo);
    EXPECT_EQ(ui.shown()[0].icon, ui::MsgIcon::Question);
    ASSERT_EQ(list()->topLevelItemCount(), 2);
    EXPECT_EQ(cell(1, 0).trimmed(), QStringLiteral("three@example.jp"));
    EXPECT_EQ(c<QLineEdit>("Text3")->text(), QStringLiteral("2"));
    EXPECT_EQ(c<QLabel>("Label7")->text(), QStringLiteral("削除が完了しました"));
    EXPECT_EQ(app.state().CurrentRecordNo, 2);
    EXPECT_EQ(bookBytes().size(), 368);
    EXPECT_FALSE(QFileInfo::exists(tmp.path(common::paths::AddressBookScratch)));
}

TEST_F(AddressBookWindow, AnsweringNoStillRewritesTheSameRecords)
{
    registerEntry(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    registerEntry(QStringLiteral("二"), QStringLiteral("two@example.jp"));
    const QByteArray before = bookBytes();
    const ino_t inodeBefore = bookInode();
    pressRow(0);
    ui.queueAnswer(ui::MsgAnswer::No);
    c<QPushButton>("Command4")->click();
    EXPECT_EQ(bookBytes(), before);
    EXPECT_NE(bookInode(), inodeBefore) << "compaction runs whatever the answer";
    EXPECT_EQ(list()->topLevelItemCount(), 2);
    EXPECT_EQ(c<QLabel>("Label7")->text(), QStringLiteral(" "));
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("one@example.jp"));
}

TEST_F(AddressBookWindow, DeleteNeedsASelectedRowAndAnAddress)
{
    registerEntry(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    list()->clearSelection();
    c<QPushButton>("Command4")->click();
    pressRow(0);
    c<QLineEdit>("Text4")->clear();
    c<QPushButton>("Command4")->click();
    EXPECT_EQ(ui.shownTexts(), (QStringList{QStringLiteral("データが選択されていません"),
                                            QStringLiteral("データが選択されていません")}));
    EXPECT_EQ(bookBytes().size(), 184);
}

TEST_F(AddressBookWindow, PasteHintsAndStorageErrors)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("x").repeated(70));
    c<QPushButton>("Command1")->click();
    EXPECT_EQ(c<QLineEdit>("Text4")->text(), QStringLiteral("x").repeated(60));

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(c<QPushButton>("Command4"), &enter);
    EXPECT_FALSE(c<QPlainTextEdit>("Text5")->isHidden());
    EXPECT_EQ(c<QPlainTextEdit>("Text5")->toPlainText(),
              QStringLiteral("不要になったメールアドレスを削除します。"));
    QCoreApplication::sendEvent(c<QPushButton>("Command38"), &enter);
    EXPECT_TRUE(c<QPlainTextEdit>("Text5")->toPlainText().endsWith(
        QStringLiteral("\n\n必要なければ挿入する必要はありません。")));
    QMouseEvent move(QEvent::MouseMove, QPointF(545, 420), QPointF(), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(form, &move);
    EXPECT_TRUE(c<QPlainTextEdit>("Text5")->isHidden());

    // A folder in place of the file: the user is told, nothing is claimed as done.
    QFile::remove(tmp.path(common::paths::AddressBook));
    ASSERT_TRUE(QDir().mkpath(tmp.path(common::paths::AddressBook)));
    registerEntry(QStringLiteral("一"), QStringLiteral("one@example.jp"));
    ASSERT_FALSE(ui.shown().empty());
    EXPECT_TRUE(ui.shown().back().text.startsWith(QStringLiteral("アドレス帳")));
    EXPECT_NE(c<QLabel>("Label7")->text(), QStringLiteral("　登録が完了しました。"));
}

TEST_F(AddressBookWindow, CharactersTheRecordCannotHoldAreRefusedByName)
{
    form->show();
    registerEntry(QStringLiteral("山田"), QStringLiteral("yamada@example.jp"));
    const QByteArray before = bookBytes();
    for (const QString& ch : test::beyondCp932()) {
        ui.clear();
        for (const bool inName : {true, false}) {
            const QString name = inName ? QStringLiteral("太郎") + ch : QStringLiteral("太郎");
            const QString address = inName ? QStringLiteral("taro@example.jp")
                                           : QStringLiteral("taro") + ch + QStringLiteral("@example.jp");
            registerEntry(name, address);
            ASSERT_FALSE(ui.shown().empty()) << ch.toStdString();
            EXPECT_TRUE(ui.shown().back().text.startsWith(u'「' + ch + u'」')) << ch.toStdString();
            EXPECT_EQ(bookBytes(), before) << "nothing written";
            EXPECT_EQ(c<QLineEdit>("Text2")->text(), name) << "what was typed stays";
            EXPECT_EQ(c<QLineEdit>("Text4")->text(), address);
            EXPECT_TRUE(form->isVisible());
        }
    }
    registerEntry(QStringLiteral("①"), QStringLiteral("a") + test::mixedBeyondCp932());
    ASSERT_FALSE(ui.shown().empty());
    for (const QString& ch : test::beyondCp932())
        EXPECT_EQ(ui.shown().back().text.count(u'「' + ch + u'」'), 1) << "each named once";
    // An invisible character is named by its code; a long list is cut short.
    QString many = QStringLiteral("x\u200By");
    for (char16_t hangul = u'가'; many.size() < 30; ++hangul)
        many += QChar(hangul);
    registerEntry(QStringLiteral("①"), many);
    ASSERT_FALSE(ui.shown().empty());
    EXPECT_TRUE(ui.shown().back().text.startsWith(QStringLiteral("「U+200B」「가」")));
    EXPECT_EQ(ui.shown().back().text.count(u'「'), 10);
    EXPECT_TRUE(ui.shown().back().text.contains(QStringLiteral("」など")));
    EXPECT_EQ(list()->topLevelItemCount(), 1);
}

TEST_F(AddressBookWindow, HintGoesAwayOverTheListCaptionsAndTheStatusStrip)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    auto* hint = c<QPlainTextEdit>("Text5");
    const auto pointerTo = [&](QWidget* w, QPoint at) {
        QTest::mouseMove(form->windowHandle(), w->mapTo(form, at));
        QCoreApplication::processEvents();
    };
    const auto showHint = [&] {
        pointerTo(c<QPushButton>("Command4"), QPoint(5, 5));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(c<QPushButton>("Command4"), &enter);
        ASSERT_FALSE(hint->isHidden());
    };

    showHint();
    pointerTo(list()->viewport(), QPoint(list()->viewport()->width() - 5, list()->viewport()->height() - 5));
    EXPECT_TRUE(hint->isHidden()) << "leaving the button for the list";

    showHint();
    pointerTo(c<QLabel>("Label7"), QPoint(3, 3));
    EXPECT_TRUE(hint->isHidden()) << "status line";

    showHint();
    pointerTo(c<QLabel>("Label4"), QPoint(3, 3));
    EXPECT_TRUE(hint->isHidden()) << "explanation label";

    showHint();
    pointerTo(c<QWidget>("Picture1"), QPoint(c<QWidget>("Picture1")->width() - 3, 3));
    EXPECT_TRUE(hint->isHidden()) << "status strip";
}

namespace {
/// The first visible top-level widget of type T, once the event loop shows it.
template <class T>
T* shownTopLevel()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* typed = qobject_cast<T*>(w); typed && typed->isVisible())
            return typed;
    }
    return nullptr;
}
} // namespace

TEST(ProductionDialogs, ConfirmationAndFileDialogSpeakJapanese)
{
    ui::QtUiSeam seam;
    QStringList captions;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownTopLevel<QMessageBox>();
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            captions << b->text();
        box->button(QMessageBox::No)->click();
    });
    const ui::MsgAnswer answer =
        seam.messageBox(nullptr, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"),
                        QStringLiteral("確認"), ui::MsgButtons::YesNo, ui::MsgIcon::Question);
    EXPECT_EQ(answer, ui::MsgAnswer::No);
    captions.sort();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("いいえ(&N)"), QStringLiteral("はい(&Y)")}));

    // A question whose Yes destroys: Enter and Escape both answer No.
    for (const int key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer::singleShot(0, [&] {
            QMessageBox* box = shownTopLevel<QMessageBox>();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
        EXPECT_EQ(seam.messageBox(nullptr, QStringLiteral("すべてのデータを削除して良いですか？"),
                                  QStringLiteral("確認"), ui::MsgButtons::YesNoDefaultNo,
                                  ui::MsgIcon::Question),
                  ui::MsgAnswer::No)
            << key;
    }

    QString fileNameLabel;
    QString rejectLabel;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = shownTopLevel<QFileDialog>();
        ASSERT_NE(dialog, nullptr);
        fileNameLabel = dialog->labelText(QFileDialog::FileName);
        rejectLabel = dialog->labelText(QFileDialog::Reject);
        dialog->reject();
    });
    EXPECT_EQ(seam.openFileName(nullptr, QStringLiteral("添付ファイル"), QStringLiteral("すべてのファイル (*)")),
              std::nullopt);
    EXPECT_EQ(fileNameLabel, QStringLiteral("ファイル名:"));
    EXPECT_EQ(rejectLabel, QStringLiteral("キャンセル"));
}
