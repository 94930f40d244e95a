#include "history/TyakuForm.h"

#include "common/FixedField.h"
#include "history/HistoryListModel.h"
#include "history/MailMenu.h"
#include "history/OriginalText.h"
#include "history/ToolIcons.h"
#include "history/TruncationNote.h"
#include "history/ViewerText.h"
#include "ui/Application.h"
#include "ui/HoverHints.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeView>

namespace corvidan::history {

using ui::placeTw;
using ui::px;
using ui::tw;

namespace {

const QString ProportionalGothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString FixedGothic = QStringLiteral("ＭＳ ゴシック");

// The client area the window is designed at, in twips.
constexpr int DesignWidth = 9225;
constexpr int DesignHeight = 7230;
constexpr int DesignListWidth = 9130;
constexpr int StatusBarHeight = 420;

const QColor ReceivedListColour(210, 250, 250);
const QColor SentListColour(250, 250, 255);

template <class T>
T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void setLeftTw(QWidget* w, double left) { w->move(px(left), w->y()); }
void setTopTw(QWidget* w, double top) { w->move(w->x(), px(top)); }
void setWidthTw(QWidget* w, double width) { w->resize(px(width), w->height()); }
void setHeightTw(QWidget* w, double height) { w->resize(w->width(), px(height)); }

QString hintFor(const QString& control)
{
    if (control == u"Command1")
        return QStringLiteral(
                   "本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータをコピーします"
                   "（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）はメニューバー、ツールバー"
                   "からコピー・貼り付けが出来ます。") +
               QStringLiteral("\r\n\r\n") +
               QStringLiteral(" 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、"
                              "他のアプリケーションへの貼り付けが可能です。") +
               QStringLiteral("\r\n\r\n") + QStringLiteral("コピーされる内容は右の欄に反映されます。");
    if (control == u"Command2")
        return QStringLiteral(
            "選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」「From」"
            "「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。同名のファイルが"
            "既に存在する場合は警告メッセージを出します。");
    if (control == u"Command3")
        return QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。");
    if (control == u"Command4")
        return QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。");
    if (control == u"Command5")
        return QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。");
    if (control == u"Command6")
        return QStringLiteral("受信したメール全件削除します。");
    if (control == u"Text1")
        return QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、検索したい文字を本文中(body)から検索します。");
    return {};
}

} // namespace

TyakuForm::TyakuForm(ui::Application& app, QWidget* parent) : QMainWindow(parent), m_app(app)
{
    setObjectName(QStringLiteral("TyakuForm"));
    setWindowTitle(QStringLiteral("着信履歴"));
    buildControls();
    buildMenus();
    buildToolBar();
    placeDesignGeometry();
    wireControls();
    installHoverHints();
    resize(px(DesignWidth), px(DesignHeight));
}

TyakuForm::~TyakuForm() = default;

void TyakuForm::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("TyakuFormClient"));
    setCentralWidget(m_client);

    const QFont pGothic(ProportionalGothic, 9);
    const QFont gothic(FixedGothic, 10);

    Picture1_1 = named(new QLabel(m_client), "Picture1_1");
    Picture1_1->setAutoFillBackground(true);
    Picture1_1->setPalette(QPalette(QColor(205, 222, 240)));
    Picture4 = named(new QLabel(m_client), "Picture4");
    Picture4->hide();
    Image1 = named(new QLabel(m_client), "Image1");
    Image1->setPixmap(toolIcon(QStringLiteral("Open")).pixmap(16, 16));
    Image1->setAlignment(Qt::AlignCenter);

    m_model = new HistoryListModel(this);
    MailListView = named(new QTreeView(m_client), "MailListView");
    MailListView->setModel(m_model);
    MailListView->setRootIsDecorated(false);
    MailListView->setItemsExpandable(false);
    MailListView->setUniformRowHeights(true);
    MailListView->setAllColumnsShowFocus(true);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MailListView->setSortingEnabled(false);
    MailListView->header()->setStretchLastSection(false);
    // Cells keep the fields' blank padding; eliding would mark every one as cut.
    MailListView->setTextElideMode(Qt::ElideNone);
    MailListView->setAutoFillBackground(true);

    Text1 = named(new QLineEdit(m_client), "Text1");
    Text1->setFont(pGothic);
    Label2 = named(new QLabel(QStringLiteral("検索文字"), m_client), "Label2");
    Text2 = named(new QLineEdit(m_client), "Text2");
    Text2->setAlignment(Qt::AlignRight);
    Label4 = named(new QLabel(QStringLiteral("件数"), m_client), "Label4");
    Label4->setFont(pGothic);
    Text3 = named(new QLineEdit(m_client), "Text3");
    Text3->hide();
    Text5 = named(new QLineEdit(m_client), "Text5");
    Text5->hide();
    Text7 = named(new QLineEdit(m_client), "Text7");
    Text8 = named(new QLineEdit(m_client), "Text8");
    Text9 = named(new QLineEdit(m_client), "Text9");
    for (QLineEdit* box : {Text7, Text8, Text9})
        box->setFont(pGothic);

    rtfEd = named(new QTextEdit(m_client), "rtfEd");
    rtfEd->setAcceptRichText(false);
    rtfEd->setFont(gothic);
    rtfWk = named(new QTextEdit(m_client), "rtfWk");
    rtfWk->hide();
    lstLst = named(new QListWidget(m_client), "lstLst");
    lstLst->setFont(gothic);
    lstWk = named(new QListWidget(m_client), "lstWk");
    lstWk->hide();
    m_truncationNote = new TruncationNote(rtfEd);

    Text4 = named(new QPlainTextEdit(m_client), "Text4");
    Text4->setReadOnly(true);
    Text4->setPalette(QPalette(QColor(255, 255, 225)));
    Text4->hide();

    Command2 = named(new QPushButton(QStringLiteral("TextQuickSave"), m_client), "Command2");
    Command3 = named(new QPushButton(QStringLiteral("一件削除"), m_client), "Command3");
    Command4 = named(new QPushButton(QStringLiteral("アドレス帳登録"), m_client), "Command4");
    Command5 = named(new QPushButton(QStringLiteral("返事を書く"), m_client), "Command5");
    Command6 = named(new QPushButton(QStringLiteral("全件削除"), m_client), "Command6");
    // Tab follows the row as it reads: 全件削除 sits between 一件削除 and アドレス帳登録.
    setTabOrder(Command3, Command6);
    setTabOrder(Command6, Command4);

    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setFixedHeight(px(StatusBarHeight));
    setStatusBar(StatusBar1);
    // These two sit over the status bar, so they belong to the window, not the client.
    Command1 = named(new QPushButton(QStringLiteral("コピー（Subject/from/Data）"), this), "Command1");
    Text6 = named(new QLineEdit(this), "Text6");
}

void TyakuForm::buildMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& caption, void (TyakuForm::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* mFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    item(mFile, "mnew", QStringLiteral("新規作成"), &TyakuForm::mnew_Click);
    item(mFile, "mopen", QStringLiteral("開く"), &TyakuForm::mopen_Click);
    item(mFile, "msave", QStringLiteral("名前を付けて保存"), &TyakuForm::msave_Click);
    item(mFile, "mprint", QStringLiteral("印刷"), &TyakuForm::mprint_Click);
    separator(mFile, "mline");
    item(mFile, "mend", QStringLiteral("終了"), &TyakuForm::mend_Click);

    QMenu* medit = menuBar()->addMenu(QStringLiteral("編集"));
    medit->setObjectName(QStringLiteral("medit"));
    item(medit, "mall", QStringLiteral("全て選択"), &TyakuForm::mall_Click);
    item(medit, "matamajump", QStringLiteral("文頭へジャンプ"), &TyakuForm::matamajump_Click);
    item(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"), &TyakuForm::mbunmatujump_Click);
    separator(medit, "mline3");
    item(medit, "mkensaku", QStringLiteral("検索"), &TyakuForm::mkensaku_Click);
    item(medit, "mtugikensaku", QStringLiteral("次を検索"), &TyakuForm::mtugikensaku_Click);
    separator(medit, "mline2");
    item(medit, "mcut", QStringLiteral("切り取り"), &TyakuForm::mcut_Click);
    item(medit, "mcopy", QStringLiteral("コピー"), &TyakuForm::mcopy_Click);
    item(medit, "mpaste", QStringLiteral("貼付け"), &TyakuForm::mpaste_Click);

    m_mailMenu = new MailMenu(m_app, menuBar(), this);
}

void TyakuForm::buildToolBar()
{
    // The tool bar sits inside the client area at its top, as the window is designed.
    tbToolBar = named(new QToolBar(m_client), "tbToolBar");
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setMovable(false);
    struct Button {
        const char* key;
        QString tip;
        bool separatorAfter;
    };
    const Button buttons[] = {
        {"New", QStringLiteral("新規作成"), false},   {"Open", QStringLiteral("開く"), false},
        {"Save", QStringLiteral("名前を付けて保存"), true}, {"Print", QStringLiteral("印刷"), true},
        {"Cut", QStringLiteral("切り取り"), false},   {"Copy", QStringLiteral("ｺﾋﾟｰ"), false},
        {"Paste", QStringLiteral("貼り付け"), true},  {"Bold", QStringLiteral("太字"), false},
        {"Italic", QStringLiteral("斜体"), false},    {"Underline", QStringLiteral("下線"), true},
    };
    for (const Button& b : buttons) {
        const QString key = QString::fromLatin1(b.key);
        QAction* action = tbToolBar->addAction(toolIcon(key), b.tip);
        action->setObjectName(key);
        action->setToolTip(b.tip);
        if (b.separatorAfter)
            tbToolBar->addSeparator();
    }
    connect(tbToolBar, &QToolBar::actionTriggered, this, &TyakuForm::tbToolBar_ButtonClick);
}

void TyakuForm::placeDesignGeometry()
{
    placeTw(tbToolBar, 0, 0, 5000, 420);
    placeTw(Label2, 5100, 100, 850, 240);
    placeTw(Text1, 5950, 60, 1650, 300);
    placeTw(Label4, 7750, 100, 450, 240);
    placeTw(Text2, 8200, 60, 800, 300);
    placeTw(Picture1_1, 0, 420, DesignWidth, 420);
    placeTw(Command2, 120, 465, 1500, 330);
    placeTw(Command3, 1680, 465, 1200, 330);
    placeTw(Command6, 2940, 465, 1200, 330);
    placeTw(Command4, 4200, 465, 1800, 330);
    placeTw(Command5, 6060, 465, 1500, 330);
    placeTw(Image1, 8700, 465, 330, 330);
    placeTw(MailListView, 20, 900, DesignListWidth, 1800);
    placeTw(Text7, 5, 2840, 4600, 300);
    placeTw(Text8, 4615, 2840, 2760, 300);
    placeTw(Text9, 7375, 2840, 1845, 300);
    placeTw(rtfEd, 20, 3200, DesignListWidth, 2700);
    placeTw(Text4, 4200, 900, 4950, 1800);
    placeTw(lstLst, 20, 3200, 2000, 1000);
    const int statusTop = DesignHeight - StatusBarHeight;
    placeTw(Command1, 1880, statusTop + 80, 3300, 300);
    placeTw(Text6, 5260, statusTop + 80, 3500, 300);
    Command1->raise();
    Text6->raise();
}

void TyakuForm::wireControls()
{
    connect(Command1, &QPushButton::clicked, this, &TyakuForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &TyakuForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &TyakuForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &TyakuForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &TyakuForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &TyakuForm::Command6_Click);
    connect(rtfEd, &QTextEdit::textChanged, this, [this] { m_app.state().editor.EditorModified = true; });
    connect(m_truncationNote, &TruncationNote::openOriginal, m_mailMenu, &MailMenu::mgenbun_Click);
    // A click anywhere in the list counts, also on its empty part, so the
    // release on the viewport is the click (the press has selected the row).
    MailListView->viewport()->installEventFilter(this);
    // The message on screen is the highlighted one, however the highlight moved
    // (↑/↓, Home/End, a click), so a deletion acts on what the user reads.
    connect(MailListView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndex row = selectedRow();
        if (row.isValid() && (row.row() + 1 != m_shownRecordNo || Text5->text().isEmpty()))
            MailListView_Click();
    });
    // A consumed selection takes its highlight with it: the flag and the
    // highlight never disagree about what is selected.
    connect(Text5, &QLineEdit::textChanged, this, [this](const QString& flag) {
        if (flag.isEmpty())
            MailListView->clearSelection();
    });
}

void TyakuForm::installHoverHints()
{
    const QList<QWidget*> watched = {Command1, Command2, Command3, Command4, Command5, Command6,
                                     Text1, Text7, Text8, Text9, MailListView->viewport(),
                                     rtfEd->viewport(), Image1, m_client};
    auto* hints = new ui::HoverHints(Text4);
    for (QWidget* w : watched) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
        if (const QString hint = hintFor(w->objectName()); !hint.isEmpty())
            hints->add(w, toPaneText(hint));
    }
    for (QWidget* w : {MailListView->viewport(), rtfEd->viewport(), static_cast<QWidget*>(Image1)})
        hints->addQuiet(w);
}

void TyakuForm::Form_Load()
{
    const int listWidth = tw(MailListView->width());
    MailListView->setColumnWidth(HistoryListModel::SubjectColumn, px(listWidth / 2));
    MailListView->setColumnWidth(HistoryListModel::FromColumn, px(listWidth / 4));
    MailListView->setColumnWidth(HistoryListModel::DateColumn, px(listWidth / 4));
    placeTw(rtfEd, 20, 3900, tw(rtfEd->width()), tw(rtfEd->height()));
    initialiseEditor();
}

void TyakuForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void TyakuForm::Form_Resize()
{
    // The rule is stated in the window's outer size, frame and caption included.
    const double W = ui::outerWidthTw(this);
    const double H = ui::outerHeightTw(this);
    Text6->setVisible(true);
    Command2->setVisible(true);

    MailListView->resize(px(W * 0.99), px(H * 0.25));
    const int listHeight = tw(MailListView->height());
    for (QLineEdit* box : {Text7, Text8, Text9})
        setTopTw(box, listHeight + 940);
    setWidthTw(Picture1_1, W);
    setWidthTw(rtfEd, W * 0.99);
    setTopTw(rtfEd, listHeight + 1300);
    setWidthTw(Text7, W * 0.5);
    setWidthTw(Text8, W * 0.3);
    setWidthTw(Text9, W * 0.2);
    setLeftTw(Text7, tw(rtfEd->x()) - 15);
    setLeftTw(Text8, W * 0.5 + tw(Text7->x()));
    setLeftTw(Text9, W * 0.3 + tw(Text8->x()) - 20);

    const int statusTop = tw(height() - StatusBar1->height());
    const int statusLeft = 0;
    setLeftTw(Text6, tw(Command1->x()) + 3380);
    setTopTw(Text6, statusTop + 80);
    setLeftTw(Command1, statusLeft + 1880);
    setTopTw(Command1, statusTop + 80);

    if (H > 3500) {
        setHeightTw(rtfEd, H - listHeight - tw(Text7->height()) - 2000);
        if (isMaximized()) {
            setTopTw(Text6, H - 1000);
            setTopTw(Command1, H - 980);
        }
    }
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        onMouseMove(watched);
    else if (event->type() == QEvent::MouseButtonRelease && watched == MailListView->viewport())
        MailListView_Click();
    return QMainWindow::eventFilter(watched, event);
}

void TyakuForm::onMouseMove(QObject* watched)
{
    // The hints themselves are shown and put away by the window's HoverHints.
    if (!hintFor(watched->objectName()).isEmpty())
        return;
    if (watched == Text7 || watched == Text8 || watched == Text9) {
        Text6->setText(static_cast<QLineEdit*>(watched)->text());
        return;
    }
    if (watched == MailListView->viewport())
        Text4->clear();
    else if (watched != Image1 && watched != rtfEd->viewport() && watched != m_client)
        return;
    anchorToStatusBar();
}

void TyakuForm::anchorToStatusBar()
{
    const int statusTop = tw(height() - StatusBar1->height());
    setTopTw(Text6, statusTop + 80);
    setTopTw(Command1, statusTop + 80);
}

storage::HistoryFile TyakuForm::historyFile() const
{
    const auto kind = m_app.state().HistoryKind == 2 ? storage::HistoryKind::Sent
                                                     : storage::HistoryKind::Received;
    return storage::HistoryFile(m_app.appDir(), kind);
}

storage::MailRecord& TyakuForm::historyBuffer()
{
    return m_app.state().HistoryKind == 2 ? m_app.state().SentRecord : m_app.state().ReceivedRecord;
}

void TyakuForm::OpenHistory(int kind)
{
    ui::bringUp(this);
    setWindowTitle(kind == 2 ? QStringLiteral("送信履歴") : QStringLiteral("着信履歴"));
    m_app.state().HistoryKind = kind == 2 ? 2 : 1;
    QPalette palette = MailListView->palette();
    palette.setColor(QPalette::Base, kind == 2 ? SentListColour : ReceivedListColour);
    MailListView->setPalette(palette);
    m_model->clear();
    rtfEd->setPlainText(QString());
    LoadHistoryList(kind);
}

void TyakuForm::LoadHistoryList(int kind)
{
    m_app.state().HistoryKind = kind == 2 ? 2 : 1;
    fillList(HeaderText::Trimmed);
}

void TyakuForm::historyAppended(int kind)
{
    if (!isVisible() || m_app.state().HistoryKind != (kind == 2 ? 2 : 1))
        return;
    m_model->clear();
    fillList(HeaderText::Trimmed);
}

void TyakuForm::fillList(HeaderText mode)
{
    storage::HistoryFile file = historyFile();
    std::vector<storage::MailHeader> headers = file.ReadAllHeaders();
    const int count = static_cast<int>(headers.size());
    m_model->setHeaders(std::move(headers));
    if (count > 0) {
        // Only the last record's body is shown, so only that one is read whole.
        if (std::optional<QByteArray> last = file.ReadRecordBytes(count)) {
            historyBuffer() = storage::MailRecord::fromBytes(last->constData());
            rememberShown(count, *last);
            showRecord(historyBuffer(), mode);
        }
    } else {
        clearShownMessage();
    }
    Text2->setText(QString::number(count));
}

void TyakuForm::showRecord(const storage::MailRecord& record, HeaderText mode)
{
    const bool trim = mode == HeaderText::Trimmed;
    Text7->setText(trim ? trimBlanks(record.Subject) : record.Subject);
    Text8->setText(trim ? trimBlanks(record.Address) : record.Address);
    Text9->setText(trim ? trimBlanks(record.Date) : record.Date);
    // Show each value from its start, not scrolled to its (possibly padded) end.
    for (QLineEdit* box : {Text7, Text8, Text9})
        box->setCursorPosition(0);
    setBodyText(trimBlanks(record.Body));
    normaliseBody();
    offerOriginal();
}

void TyakuForm::rememberShown(int recordNo, const QByteArray& bytes)
{
    m_shownRecordNo = recordNo;
    m_shownRecord = bytes;
}

void TyakuForm::offerOriginal()
{
    m_mailMenu->setShownRecord(m_shownRecord, trimBlanks(historyBuffer().Subject));
    // Only a cut body needs the original looked up now; the menu reads it when opened.
    const bool cut = original::bodyWasCut(m_shownRecord);
    m_truncationNote->showFor(cut, cut && m_mailMenu->hasOriginal());
}

void TyakuForm::clearShownMessage()
{
    m_shownRecordNo = 0;
    m_shownRecord.clear();
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->setPlainText(QString());
    offerOriginal();
}

void TyakuForm::normaliseBody()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text = rtfEd->toPlainText();
    clipboard->clear();
    clipboard->setText(text);
    QString back = clipboard->text();
    // Without a working clipboard the pane still gets the trimmed body.
    if (back.isEmpty())
        back = text;
    rtfEd->setPlainText(trimBlanks(back));
}

QString TyakuForm::bodyText() const
{
    return toFileText(rtfEd->toPlainText());
}

void TyakuForm::setBodyText(const QString& fileText)
{
    rtfEd->setPlainText(toPaneText(fileText));
}

QModelIndex TyakuForm::selectedRow() const
{
    const QModelIndexList rows = MailListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? QModelIndex() : rows.first();
}

void TyakuForm::MailListView_Click()
{
    Text5->setText(QStringLiteral("1"));
    if (Text2->text().toInt() == 0) {
        m_app.notify(this, QStringLiteral("選択するデータがありません。"));
        return;
    }
    const QModelIndex row = selectedRow();
    if (!row.isValid())
        return;
    std::optional<QByteArray> bytes = historyFile().ReadRecordBytes(row.row() + 1);
    if (!bytes) {
        m_app.notify(this, QStringLiteral("履歴ファイルからメールを読み込めませんでした。"),
                     ui::MsgIcon::Exclamation);
        return;
    }
    historyBuffer() = storage::MailRecord::fromBytes(bytes->constData());
    rememberShown(row.row() + 1, *bytes);
    showRecord(historyBuffer(), HeaderText::Trimmed);
    Text2->setText(QString::number(m_model->rowCount()));
}

void TyakuForm::setHeaderBoxes(const QString& subject, const QString& from, const QString& date)
{
    Text7->setText(subject);
    Text8->setText(from);
    Text9->setText(date);
}

} // namespace corvidan::history
