// The history viewer's list and display: opening, row clicks, kinds, layout, hints.
#include "HistoryTestSupport.h"

#include "ui/Twips.h"

#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace corvidan::test {
namespace {

using ui::px;

class HistoryList : public HistoryViewerTest {};

TEST_F(HistoryList, EmptyHistoryShowsNoRowsAndEmptyBoxes)
{
    open(1);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(list()->model()->rowCount(), 0);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("0"));
    for (const char* name : {"Text7", "Text8", "Text9", "Text5"})
        EXPECT_EQ(box(name)->text(), QString()) << name;
    EXPECT_EQ(paneText(), QString());
    EXPECT_EQ(app->state().HistoryKind, 1);
}

TEST_F(HistoryList, ThreeRecordsLeaveTheLastShownAndItsBodyOnTheClipboard)
{
    store(1, {mail(QStringLiteral("一件目"), QStringLiteral("a@example.jp"), QStringLiteral("d1"), QStringLiteral("本文1")),
              mail(QStringLiteral("two"), QStringLiteral("b@example.jp"), QStringLiteral("d2"), QStringLiteral("body 2")),
              mail(QStringLiteral("三件目"), QStringLiteral("c@example.jp"), QStringLiteral("2026/12/08 10:00"),
                   QStringLiteral("一行目\r\n二行目"))});
    open(1);
    QAbstractItemModel* model = list()->model();
    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("3"));
    EXPECT_EQ(model->index(1, 0).data().toString().trimmed(), QStringLiteral("two"));
    EXPECT_EQ(model->index(1, 1).data().toString().trimmed(), QStringLiteral("b@example.jp"));
    EXPECT_EQ(model->index(1, 2).data().toString().trimmed(), QStringLiteral("d2"));
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("三件目"));
    EXPECT_EQ(box("Text8")->text(), QStringLiteral("c@example.jp"));
    EXPECT_EQ(box("Text9")->text(), QStringLiteral("2026/12/08 10:00"));
    EXPECT_EQ(paneText(), QStringLiteral("一行目\n二行目"));
    EXPECT_EQ(form->bodyText(), QStringLiteral("一行目\r\n二行目"));
    EXPECT_EQ(clipboardText(), QStringLiteral("一行目\n二行目"));
    EXPECT_EQ(app->state().ReceivedRecord.Subject.trimmed(), QStringLiteral("三件目"));
    EXPECT_TRUE(list()->selectionModel()->selectedRows().isEmpty());
}

TEST_F(HistoryList, SubjectWithNulShowsOnlyUpToTheNul)
{
    storeNumbered(1, 1);
    // Put a NUL into the stored subject field, as a broken record can hold.
    QByteArray bytes = fileBytes(1);
    bytes.replace(0, 11, QByteArray("abc\0defghij", 11));
    dir.write(u"\\★MAilData\\zrbdata2.data", bytes);
    open(1);
    EXPECT_EQ(list()->model()->index(0, 0).data().toString(), QStringLiteral("abc"));
}

TEST_F(HistoryList, ClickingRowTwoShowsRecordTwo)
{
    storeNumbered(1, 3);
    open(1);
    clickRow(1);
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("1"));
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("subject 2"));
    EXPECT_EQ(box("Text8")->text(), QStringLiteral("from 2"));
    EXPECT_EQ(box("Text9")->text(), QStringLiteral("date 2"));
    EXPECT_EQ(paneText(), QStringLiteral("body 2"));
    EXPECT_EQ(clipboardText(), QStringLiteral("body 2"));
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("3"));
    EXPECT_EQ(app->state().ReceivedRecord.Body.trimmed(), QStringLiteral("body 2"));
    EXPECT_TRUE(ui.shown().empty());

    // The keys move the highlight and the message on screen follows it.
    struct Step {
        Qt::Key key;
        int row;
    };
    for (const Step& step : {Step{Qt::Key_Down, 2}, Step{Qt::Key_Up, 1}, Step{Qt::Key_Up, 0},
                             Step{Qt::Key_End, 2}}) {
        QTest::keyClick(list(), step.key);
        const QString n = QString::number(step.row + 1);
        ASSERT_EQ(list()->selectionModel()->selectedRows().size(), 1) << step.key;
        EXPECT_EQ(list()->selectionModel()->selectedRows().first().row(), step.row) << step.key;
        EXPECT_EQ(box("Text5")->text(), QStringLiteral("1")) << step.key;
        EXPECT_EQ(box("Text7")->text(), QStringLiteral("subject ") + n) << step.key;
        EXPECT_EQ(paneText(), QStringLiteral("body ") + n) << step.key;
    }
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(HistoryList, ClickOnAnEmptyListSaysThereIsNothingToSelect)
{
    open(2);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(ui.shownTexts(), QStringList{QStringLiteral("選択するデータがありません。")});
    EXPECT_EQ(ui.shown().front().buttons, ui::MsgButtons::Ok);
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("1"));
}

TEST_F(HistoryList, SwitchingKindsChangesCaptionColourAndRecords)
{
    storeNumbered(1, 2);
    store(2, {mail(QStringLiteral("sent one"), QStringLiteral("to@x"), QStringLiteral("t"), QStringLiteral("s"))});
    open(2);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("送信履歴"));
    EXPECT_EQ(list()->palette().color(QPalette::Base), QColor(250, 250, 255));
    ASSERT_EQ(list()->model()->rowCount(), 1);
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("sent one"));
    EXPECT_EQ(app->state().HistoryKind, 2);

    history::TyakuForm* first = form;
    open(1);
    EXPECT_EQ(form, first) << "one viewer serves both histories";
    EXPECT_EQ(form->windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(list()->palette().color(QPalette::Base), QColor(210, 250, 250));
    ASSERT_EQ(list()->model()->rowCount(), 2);
    EXPECT_EQ(box("Text7")->text(), QStringLiteral("subject 2"));
    EXPECT_EQ(app->state().HistoryKind, 1);

    // Reopening keeps the selection flag as it was.
    clickRow(0);
    open(2);
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("1"));
}

TEST_F(HistoryList, ControlsCarryTheirNamesCaptionsAndFonts)
{
    open(1);
    EXPECT_EQ(form->objectName(), QStringLiteral("TyakuForm"));
    const std::pair<const char*, const char*> captions[] = {
        {"Command1", "コピー（Subject/from/Data）"}, {"Command2", "TextQuickSave"},
        {"Command3", "一件削除"}, {"Command4", "アドレス帳登録"},
        {"Command5", "返事を書く"}, {"Command6", "全件削除"}};
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(ctl<QPushButton>(name)->text(), QString::fromUtf8(caption)) << name;
    QHeaderView* header = list()->header();
    EXPECT_EQ(list()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Subject"));
    EXPECT_EQ(header->sectionSize(0), px(9130 / 2));
    EXPECT_EQ(header->sectionSize(1), px(9130 / 4));
    EXPECT_EQ(header->sectionSize(2), px(9130 / 4));
    EXPECT_EQ(pane()->font().family(), QStringLiteral("ＭＳ ゴシック"));
    EXPECT_EQ(box("Text7")->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_FALSE(ctl<QWidget>("lstLst")->isVisible());
    EXPECT_FALSE(ctl<QWidget>("Text4")->isVisible());
    EXPECT_TRUE(pane()->isVisible());
    ctl<QStatusBar>("StatusBar1");

    const QStringList fileItems = {QStringLiteral("新規作成"), QStringLiteral("開く"), QStringLiteral("名前を付けて保存"),
                                   QStringLiteral("印刷"), QString(), QStringLiteral("終了")};
    QStringList seen;
    for (QAction* a : ctl<QMenu>("mFile")->actions())
        seen << a->text();
    EXPECT_EQ(seen, fileItems);
    EXPECT_EQ(ctl<QMenu>("mFile")->title(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(ctl<QMenu>("medit")->title(), QStringLiteral("編集"));
    EXPECT_EQ(ctl<QAction>("mtugikensaku")->text(), QStringLiteral("次を検索"));

    QStringList keys;
    for (QAction* a : ctl<QToolBar>("tbToolBar")->actions())
        keys << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + u'=' + a->toolTip());
    EXPECT_EQ(keys, (QStringList{QStringLiteral("New=新規作成"), QStringLiteral("Open=開く"),
                                 QStringLiteral("Save=名前を付けて保存"), QStringLiteral("-"),
                                 QStringLiteral("Print=印刷"), QStringLiteral("-"),
                                 QStringLiteral("Cut=切り取り"), QStringLiteral("Copy=ｺﾋﾟｰ"),
                                 QStringLiteral("Paste=貼り付け"), QStringLiteral("-"),
                                 QStringLiteral("Bold=太字"), QStringLiteral("Italic=斜体"),
                                 QStringLiteral("Underline=下線"), QStringLiteral("-")}));
    for (QAction* a : ctl<QToolBar>("tbToolBar")->actions())
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->objectName().toStdString();
}

/// One row of the resize table: outer size in twips and the expected twips.
struct ResizeCase {
    int W, H;
    int listW, listH, boxTop, rtfTop, rtfW, rtfH;
    int t7W, t8W, t9W, t7Left, t8Left, t9Left;
};

TEST_F(HistoryList, ResizePlacesControlsAsComputed)
{
    open(1);
    // W 12000 x H 9000: list 11880 x 2250; boxes at 2250 + 940; pane at 2250 + 1300,
    // 11880 wide, 9000 - 2250 - 300 - 2000 high; widths 6000/3600/2400; lefts
    // 15 - 15, 6000 + 0, 3600 + 6000 - 20 (the pane's left 20 reads back as 15).
    // W 9000 x H 6000: list 8910 x 1500; boxes 2440; pane 2800, 6000 - 1500 - 300 - 2000.
    const ResizeCase cases[] = {
        {12000, 9000, 11880, 2250, 3190, 3550, 11880, 4450, 6000, 3600, 2400, 0, 6000, 9580},
        {9000, 6000, 8910, 1500, 2440, 2800, 8910, 2200, 4500, 2700, 1800, 0, 4500, 7180},
    };
    for (const ResizeCase& c : cases) {
        form->resize(ui::clientSizeForOuterTw(c.W, c.H));
        QCoreApplication::processEvents();
        SCOPED_TRACE(c.W);
        EXPECT_EQ(list()->width(), px(c.listW));
        EXPECT_EQ(list()->height(), px(c.listH));
        for (const char* name : {"Text7", "Text8", "Text9"})
            EXPECT_EQ(box(name)->y(), px(c.boxTop)) << name;
        EXPECT_EQ(pane()->y(), px(c.rtfTop));
        EXPECT_EQ(pane()->width(), px(c.rtfW));
        EXPECT_EQ(pane()->height(), px(c.rtfH));
        EXPECT_EQ(box("Text7")->width(), px(c.t7W));
        EXPECT_EQ(box("Text8")->width(), px(c.t8W));
        EXPECT_EQ(box("Text9")->width(), px(c.t9W));
        EXPECT_EQ(box("Text7")->x(), px(c.t7Left));
        EXPECT_EQ(box("Text8")->x(), px(c.t8Left));
        EXPECT_EQ(box("Text9")->x(), px(c.t9Left));
        EXPECT_EQ(ctl<QWidget>("Picture1_1")->width(), px(c.W));
        // Command1 and Text6 sit on the status bar: its top + 80, lefts 1880 and + 3380.
        const int statusTop = ctl<QStatusBar>("StatusBar1")->geometry().top();
        EXPECT_EQ(ctl<QWidget>("Command1")->y(), statusTop + px(80));
        EXPECT_EQ(box("Text6")->y(), statusTop + px(80));
        EXPECT_EQ(ctl<QWidget>("Command1")->x(), px(1880));
        EXPECT_EQ(box("Text6")->x(), px(ui::tw(px(1880)) + 3380));
        EXPECT_TRUE(box("Text6")->isVisible());
        EXPECT_TRUE(ctl<QWidget>("Command2")->isVisible());
    }
}

TEST_F(HistoryList, LowWindowKeepsTheBodyPaneHeight)
{
    open(1);
    form->resize(ui::clientSizeForOuterTw(9000, 6000));
    QCoreApplication::processEvents();
    const int before = pane()->height();
    form->resize(ui::clientSizeForOuterTw(9000, 3495));
    QCoreApplication::processEvents();
    EXPECT_EQ(pane()->height(), before);
    EXPECT_EQ(list()->height(), px(3495 * 0.25));
    // Just above the limit the pane follows the height again.
    form->resize(ui::clientSizeForOuterTw(9000, 3510));
    QCoreApplication::processEvents();
    EXPECT_NE(pane()->height(), before);
}

TEST_F(HistoryList, HoverShowsHintsAndFeedsTheCopySource)
{
    storeNumbered(1, 1);
    open(1);
    auto* hint = ctl<QPlainTextEdit>("Text4");
    hover(ctl<QWidget>("Command3"));
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->toPlainText(),
              QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"));
    hover(ctl<QWidget>("Command1"));
    EXPECT_TRUE(hint->toPlainText().contains(QStringLiteral("出来ます。\n\n 本文への貼り付け")));
    hover(pane()->viewport());
    EXPECT_FALSE(hint->isVisible());
    EXPECT_FALSE(hint->toPlainText().isEmpty());
    hover(ctl<QWidget>("Text1"));
    hover(list()->viewport());
    EXPECT_FALSE(hint->isVisible());
    EXPECT_TRUE(hint->toPlainText().isEmpty());

    hover(box("Text9"));
    EXPECT_EQ(box("Text6")->text(), QStringLiteral("date 1"));
    click("Command1");
    EXPECT_EQ(clipboardText(), QStringLiteral("date 1"));
    hover(box("Text8"));
    EXPECT_EQ(box("Text6")->text(), QStringLiteral("from 1"));
}

TEST_F(HistoryList, ReceivePathStagesMessagesInTheBoxesWithCrLfBodies)
{
    app->forms().get<history::TyakuForm>();
    form = app->forms().find<history::TyakuForm>();
    EXPECT_FALSE(form->isVisible());
    form->setBodyText(QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(paneText(), QStringLiteral("a\nb\n"));
    EXPECT_EQ(form->bodyText(), QStringLiteral("a\r\nb\r\n"));
}

} // namespace
} // namespace corvidan::test
