#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "emoticons/PaletteFiles.h"
#include "shell/Application.h"
#include "support/Beyond932.h"
#include "support/Controls.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace corvidan;
using emoticons::KaoForm;
using test::control;

namespace {

class PaletteWindow : public ::testing::Test {
protected:
    PaletteWindow() : app(dir.appDir(), ui) {}

    KaoForm* open()
    {
        KaoForm* form = app.forms().get<KaoForm>();
        form->show();
        return form;
    }
    QPlainTextEdit* composeBody()
    {
        return control<QPlainTextEdit>(app.forms().get<compose::WriteForm>(), QStringLiteral("BodyText"));
    }
    /// Lets a closed window's deferred deletion happen, as the event loop would.
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static void select(QPlainTextEdit* box, int from, int length)
    {
        QTextCursor c = box->textCursor();
        c.setPosition(from);
        c.setPosition(from + length, QTextCursor::KeepAnchor);
        box->setTextCursor(c);
    }
    static void click(QWidget* form, const char* name)
    {
        control<QPushButton>(form, QString::fromLatin1(name))->click();
    }
    QByteArray file(const char16_t* name) const
    {
        return dir.read(QString::fromUtf16(common::paths::PaletteFolder) + u'\\' + QString::fromUtf16(name));
    }
    static QClipboard* clipboard() { return QGuiApplication::clipboard(); }

    test::TempAppDir dir;
    test::ScriptedUi ui;
    shell::Application app;
};

} // namespace

TEST_F(PaletteWindow, HasTwelveCaptionedPagesWithTheirBoxesAndButtons)
{
    KaoForm* form = open();
    EXPECT_EQ(form->objectName(), QStringLiteral("KaoForm"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("絵・顔文字"));
    EXPECT_EQ(form->size(), QSize(ui::px(8745), ui::px(7560)));
    auto* tabs = control<QTabWidget>(form, QStringLiteral("SSTab1"));
    ASSERT_EQ(tabs->count(), 12);
    EXPECT_EQ(tabs->geometry().size(), QSize(ui::px(8655), ui::px(6735)));

    struct Row { const char16_t* caption; const char16_t* box; const char* insert; const char* paste; const char* favourite; };
    const Row rows[] = {
        {u"顔文字", u"Kao1", "Command1", "Command2", "Command27"},
        {u"飾りライン・抽象画", u"Text1", "Command4", "Command3", "Command28"},
        {u"顔", u"Text2", "Command5", "Command6", "Command29"},
        {u"春夏秋冬、年中行事", u"Text3", "Command7", "Command8", "Command30"},
        {u"干支、星座、その他", u"Text4", "Command10", "Command9", "Command31"},
        {u"乗り物、機械、昆虫、花", u"Text5", "Command11", "Command12", "Command32"},
        {u"飲物、食べ物", u"Text6", "Command14", "Command13", "Command33"},
        {u"衣料、雑貨、ゲーム、スポーツ", u"Text7", "Command15", "Command16", "Command34"},
        {u"SF、場所、音楽", u"Text8", "Command18", "Command17", "Command35"},
        {u"その他", u"Text9", "Command19", "Command20", "Command25"},
        {u"動物、その他", u"Text10", "Command22", "Command21", "Command26"},
        {u"お気に入り", u"Text11", "Command23", "Command24", nullptr},
    };
    for (int i = 0; i < 12; ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf16(row.caption));
        QWidget* page = tabs->widget(i);
        auto* box = control<QPlainTextEdit>(page, QString::fromUtf16(row.box));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->size(), QSize(ui::px(8175), ui::px(4215)));
        EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(control<QPushButton>(page, QString::fromLatin1(row.insert))->text(), QStringLiteral("新規作成本文に挿入"));
        EXPECT_EQ(control<QPushButton>(page, QString::fromLatin1(row.paste))->text(), QStringLiteral("追加（貼付）"));
        if (row.favourite)
            EXPECT_EQ(control<QPushButton>(page, QString::fromLatin1(row.favourite))->text(), QStringLiteral("お気に入りに追加"));
        else
            EXPECT_EQ(page->findChildren<QPushButton*>().size(), 2);
        const QString labelName = i == 0 ? QStringLiteral("Label1") : QStringLiteral("Label3_%1").arg(i + 1);
        EXPECT_EQ(control<QLabel>(page, labelName)->text(),
                  QStringLiteral("本文に挿入したい部分をマウスで選択（青色反転）し、「新規作成本文に挿入」をクリック！"));
    }
    EXPECT_EQ(control<QLabel>(form, QStringLiteral("Label4"))->text(),
              QStringLiteral("追加・削除、編集自由自在。自動で保存されます。県名や電話番号、氏名をあなた用に変更して下さい。"));
    EXPECT_TRUE(control<QLabel>(form, QStringLiteral("Label6"))->text().startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(control<QLabel>(form, QStringLiteral("Label8"))->text().startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(PaletteWindow, InsertPutsTheSelectionAtTheBodyCaretAndCloses)
{
    QPlainTextEdit* body = composeBody();
    body->setPlainText(QStringLiteral("こんにちは。よろしく"));
    QTextCursor caret = body->textCursor();
    caret.setPosition(6);
    body->setTextCursor(caret);

    KaoForm* form = open();
    QPlainTextEdit* kao = form->pageBox(0);
    const QString before = kao->toPlainText();
    const int at = before.indexOf(QStringLiteral("(^^)"));
    ASSERT_GE(at, 0);
    select(kao, at, 4);
    click(form, "Command1");
    settle();

    EXPECT_EQ(body->toPlainText(), QStringLiteral("こんにちは。(^^)よろしく"));
    EXPECT_EQ(clipboard()->text(), QStringLiteral("(^^)"));
    EXPECT_EQ(app.forms().find<KaoForm>(), nullptr);
    // Closing wrote the page back with one more line end.
    EXPECT_EQ(file(u"Kao1.txt"), emoticons::paletteFileBytes(before));

    KaoForm* again = open();
    EXPECT_EQ(again->pageBox(0)->toPlainText(), before + u'\n');
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(PaletteWindow, InsertDropsBlanksAroundTheSelectionButKeepsFullWidthSpaces)
{
    QPlainTextEdit* body = composeBody();
    body->setPlainText(QStringLiteral("[]"));
    QTextCursor caret = body->textCursor();
    caret.setPosition(1);
    body->setTextCursor(caret);

    KaoForm* form = open();
    form->pageBox(2)->setPlainText(QStringLiteral("  　(*^_^*)　  "));
    form->pageBox(2)->selectAll();
    click(form, "Command5");
    settle();

    EXPECT_EQ(body->toPlainText(), QStringLiteral("[　(*^_^*)　]"));
    EXPECT_EQ(clipboard()->text(), QStringLiteral("  　(*^_^*)　  "));
}

TEST_F(PaletteWindow, InsertOfSeveralLinesKeepsTheirBreaks)
{
    QPlainTextEdit* body = composeBody();
    body->clear();
    KaoForm* form = open();
    form->pageBox(1)->setPlainText(QStringLiteral("★☆★\n☆★☆\nrest"));
    select(form->pageBox(1), 0, 7);
    click(form, "Command4");
    settle();
    EXPECT_EQ(clipboard()->text(), QStringLiteral("★☆★\r\n☆★☆"));
    EXPECT_EQ(body->toPlainText(), QStringLiteral("★☆★\n☆★☆"));
}

TEST_F(PaletteWindow, InsertWithoutSelectionEmptiesTheClipboardAndLeavesTheBody)
{
    QPlainTextEdit* body = composeBody();
    body->setPlainText(QStringLiteral("keep this"));
    body->selectAll();
    clipboard()->setText(QStringLiteral("old"));

    KaoForm* form = open();
    QTextCursor none = form->pageBox(0)->textCursor();
    none.clearSelection();
    form->pageBox(0)->setTextCursor(none);
    click(form, "Command1");
    settle();

    EXPECT_EQ(body->toPlainText(), QStringLiteral("keep this"));
    EXPECT_TRUE(clipboard()->text().isEmpty());
    EXPECT_EQ(app.forms().find<KaoForm>(), nullptr);
}

TEST_F(PaletteWindow, FavouritesChangeOnDiskOnlyWhenThePaletteCloses)
{
    const QByteArray favouritesBefore = file(u"Text11.txt");
    KaoForm* form = open();
    QPlainTextEdit* faces = form->pageBox(2);
    faces->setPlainText(QStringLiteral("（　´∀｀）\n（　ﾟ∀ﾟ）"));
    select(faces, 0, 6);
    const int selectionEnd = faces->textCursor().selectionEnd();
    click(form, "Command29");

    QPlainTextEdit* favourites = form->pageBox(emoticons::FavouritesPage);
    EXPECT_TRUE(favourites->toPlainText().startsWith(QStringLiteral("（　´∀｀）")));
    EXPECT_EQ(clipboard()->text(), QStringLiteral("（　´∀｀）"));
    EXPECT_FALSE(faces->textCursor().hasSelection());
    EXPECT_EQ(faces->textCursor().position(), selectionEnd);
    EXPECT_EQ(file(u"Text11.txt"), favouritesBefore);
    EXPECT_NE(app.forms().find<KaoForm>(), nullptr);

    const QString favouritesText = favourites->toPlainText();
    form->close();
    settle();
    EXPECT_EQ(file(u"Text11.txt"), emoticons::paletteFileBytes(favouritesText));
}

TEST_F(PaletteWindow, CharactersBeyondCodePage932ComeBackAtTheNextOpening)
{
    const QStringList& characters = test::beyondCp932();
    ASSERT_LT(characters.size(), emoticons::PageCount);
    const int plainPage = static_cast<int>(characters.size());
    KaoForm* form = open();
    for (int page = 0; page < plainPage; ++page)
        form->pageBox(page)->setPlainText(QStringLiteral("(・∀・)") + characters[page]);
    form->pageBox(plainPage)->setPlainText(QStringLiteral("(・∀・)"));
    form->close();
    settle();
    EXPECT_TRUE(ui.shown().empty());

    // Each page reads back as a page of plain code page 932 text does.
    form = open();
    const QString plain = form->pageBox(plainPage)->toPlainText();
    ASSERT_TRUE(plain.startsWith(QStringLiteral("(・∀・)")));
    const QString ending = plain.mid(QStringLiteral("(・∀・)").size());
    for (int page = 0; page < plainPage; ++page) {
        EXPECT_EQ(form->pageBox(page)->toPlainText(), QStringLiteral("(・∀・)") + characters[page] + ending)
            << characters[page].toStdString();
    }
}

TEST_F(PaletteWindow, PasteInsertsTrimmedClipboardAndAnEmptyClipboardChangesNothing)
{
    KaoForm* form = open();
    QPlainTextEdit* box = form->pageBox(5);
    box->setPlainText(QStringLiteral("abcdef"));
    select(box, 2, 2);

    clipboard()->clear();
    click(form, "Command12");
    EXPECT_EQ(box->toPlainText(), QStringLiteral("abcdef"));
    EXPECT_EQ(box->textCursor().selectedText(), QStringLiteral("cd"));

    clipboard()->setText(QStringLiteral("   "));
    click(form, "Command12");
    EXPECT_EQ(box->toPlainText(), QStringLiteral("abcdef"));

    clipboard()->setText(QStringLiteral("  -@}--  "));
    click(form, "Command12");
    EXPECT_EQ(box->toPlainText(), QStringLiteral("ab-@}--ef"));
}

TEST_F(PaletteWindow, ZeroByteFileIsWrittenBackAsOneLineEnd)
{
    dir.write(u"\\顔文字データ\\Text4.txt", QByteArray());
    KaoForm* form = open();
    EXPECT_TRUE(form->pageBox(4)->toPlainText().isEmpty());
    form->close();
    settle();
    EXPECT_EQ(file(u"Text4.txt"), QByteArray("\r\n"));
    EXPECT_EQ(QDir(dir.path(common::paths::PaletteFolder)).entryList(QDir::Files).size(), 12);
}

TEST_F(PaletteWindow, MissingFolderOpensEmptyPagesAndIsCreatedAtClose)
{
    ASSERT_TRUE(QDir(dir.path(common::paths::PaletteFolder)).removeRecursively());
    KaoForm* form = open();
    for (int page = 0; page < emoticons::PageCount; ++page)
        EXPECT_TRUE(form->pageBox(page)->toPlainText().isEmpty()) << page;
    form->pageBox(0)->setPlainText(QStringLiteral("(^_^)v"));
    form->close();
    settle();
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(file(u"Kao1.txt"), QByteArray("(^_^)v\r\n"));
    EXPECT_EQ(file(u"text10.txt"), QByteArray("\r\n"));
    EXPECT_EQ(QDir(dir.path(common::paths::PaletteFolder)).entryList(QDir::Files).size(), 12);
}

TEST_F(PaletteWindow, AnUnwritableFileGivesOneMessageAndTheOthersAreWritten)
{
    KaoForm* form = open();
    for (int page = 0; page < emoticons::PageCount; ++page)
        form->pageBox(page)->setPlainText(QStringLiteral("page %1").arg(page));
    // Something took the file's place while the palette was open.
    const QString blocked = emoticons::palettePath(dir.appDir(), 6);
    ASSERT_TRUE(QFile::remove(blocked));
    ASSERT_TRUE(QDir().mkdir(blocked));

    form->close();
    settle();
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("Text6.txt")));
    EXPECT_EQ(ui.shown()[0].title, ui::UiSeam::applicationTitle());
    for (int page = 0; page < emoticons::PageCount; ++page) {
        if (page == 6)
            continue;
        QFile f(emoticons::palettePath(dir.appDir(), page));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << page;
        EXPECT_EQ(f.readAll(), QStringLiteral("page %1\r\n").arg(page).toLatin1()) << page;
    }
}

TEST_F(PaletteWindow, AnUnreadableFileIsReportedAtOpenAndLeftAlone)
{
    const QString blocked = emoticons::palettePath(dir.appDir(), 3);
    ASSERT_TRUE(QFile::remove(blocked));
    ASSERT_TRUE(QDir().mkdir(blocked));
    KaoForm* form = open();
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(ui.shown()[0].text.contains(QStringLiteral("Text3.txt")));
    EXPECT_TRUE(form->pageBox(3)->isReadOnly());
    form->close();
    settle();
    EXPECT_EQ(ui.shown().size(), 1u);
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST_F(PaletteWindow, EveryPageIsReachableFromTheRowsOfTabs)
{
    KaoForm* form = open();
    auto* tabs = control<QTabWidget>(form, QStringLiteral("SSTab1"));
    const QList<QToolButton*> rowTabs = control<QWidget>(tabs, QStringLiteral("TabRows"))->findChildren<QToolButton*>();
    ASSERT_EQ(rowTabs.size(), 12);
    for (int page = 0; page < 12; ++page) {
        EXPECT_EQ(rowTabs[page]->text(), tabs->tabText(page));
        EXPECT_TRUE(rowTabs[page]->isVisible());
    }
    rowTabs[9]->click();
    EXPECT_EQ(tabs->currentIndex(), 9);
    tabs->setCurrentIndex(4);
    EXPECT_TRUE(rowTabs[4]->isChecked());
    EXPECT_FALSE(rowTabs[9]->isChecked());
}
