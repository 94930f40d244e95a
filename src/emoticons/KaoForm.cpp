#include "emoticons/KaoForm.h"

#include "ui/Application.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvidan::emoticons {

namespace {

/// The buttons of each page, in the palette's page order; the last page has no
/// favourite button.
struct PageButtons {
    const char* insert;
    const char* paste;
    const char* favourite;
};

constexpr std::array<PageButtons, PageCount> kButtons{{
    {"Command1", "Command2", "Command27"},
    {"Command4", "Command3", "Command28"},
    {"Command5", "Command6", "Command29"},
    {"Command7", "Command8", "Command30"},
    {"Command10", "Command9", "Command31"},
    {"Command11", "Command12", "Command32"},
    {"Command14", "Command13", "Command33"},
    {"Command15", "Command16", "Command34"},
    {"Command18", "Command17", "Command35"},
    {"Command19", "Command20", "Command25"},
    {"Command22", "Command21", "Command26"},
    {"Command23", "Command24", nullptr},
}};

constexpr int ClientWidth = 8745;
constexpr int ClientHeight = 7560;
constexpr int TabsPerRow = 6;
constexpr int TabRowsHeight = 720;
// Page contents start below the rows of tabs, which lie over the pages' top.
constexpr int PageTop = TabRowsHeight;

/// A page's button: one height, placed from the page's top.
QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width)
{
    return ui::button(parent, name, caption, left, PageTop + top, width, 405);
}

using ui::label;

QString instructionText()
{
    return QStringLiteral("本文に挿入したい部分をマウスで選択（青色反転）し、「新規作成本文に挿入」をクリック！");
}

QClipboard* clipboard()
{
    return QGuiApplication::clipboard();
}

} // namespace

KaoForm::KaoForm(ui::Application& app, QWidget* parent) : QWidget(parent), m_app(app)
{
    setObjectName(QStringLiteral("KaoForm"));
    setWindowTitle(QStringLiteral("絵・顔文字"));
    setFixedSize(ui::px(ClientWidth), ui::px(ClientHeight));
    buildControls();
}

void KaoForm::buildControls()
{
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    ui::placeTw(SSTab1, 45, 45, 8655, 6735);
    for (int page = 0; page < PageCount; ++page)
        SSTab1->addTab(buildPage(page), QString::fromUtf16(palettePages()[page].caption));
    SSTab1->setCurrentIndex(0);
    buildTabRows();
    buildCredits();
}

void KaoForm::buildTabRows()
{
    // Twelve captions do not fit one row; a single scrolling row would hide half
    // the pages, so the tabs are laid out in rows as a tab control with several
    // rows shows them.
    SSTab1->tabBar()->hide();
    auto* rows = new QWidget(SSTab1);
    rows->setObjectName(QStringLiteral("TabRows"));
    ui::placeTw(rows, 0, 0, 8655, TabRowsHeight);
    auto* column = new QVBoxLayout(rows);
    column->setContentsMargins(2, 2, 2, 0);
    column->setSpacing(0);
    auto* group = new QButtonGroup(rows);
    QHBoxLayout* row = nullptr;
    for (int page = 0; page < PageCount; ++page) {
        if (page % TabsPerRow == 0) {
            row = new QHBoxLayout;
            row->setSpacing(0);
            column->addLayout(row);
        }
        auto* tab = new QToolButton(rows);
        tab->setText(SSTab1->tabText(page));
        tab->setCheckable(true);
        tab->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        tab->setStyleSheet(QStringLiteral(
            "QToolButton { border: 1px solid #9aa7b8; border-bottom: none; border-top-left-radius: 4px;"
            " border-top-right-radius: 4px; background: #e4e9f0; padding: 1px 4px; }"
            "QToolButton:checked { background: white; font-weight: bold; }"
            "QToolButton:hover:!checked { background: #f0f4fa; }"));
        group->addButton(tab, page);
        row->addWidget(tab);
    }
    group->button(SSTab1->currentIndex())->setChecked(true);
    connect(group, &QButtonGroup::idClicked, SSTab1, &QTabWidget::setCurrentIndex);
    connect(SSTab1, &QTabWidget::currentChanged, group,
            [group](int page) { group->button(page)->setChecked(true); });
}

QWidget* KaoForm::buildPage(int page)
{
    auto* tab = new QWidget;
    const QString labelName =
        page == 0 ? QStringLiteral("Label1") : QStringLiteral("Label3_%1").arg(page + 1);
    auto* hint = label(tab, labelName, instructionText(), 120, PageTop + 90, 8175, 300);
    hint->setStyleSheet(QStringLiteral("color: #1d3f8f;"));

    auto* box = new QPlainTextEdit(tab);
    box->setObjectName(QString::fromUtf16(palettePages()[page].box));
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), 10));
    ui::placeTw(box, 120, PageTop + 450, 8175, 4215);
    m_boxes[page] = box;

    const PageButtons& names = kButtons[page];
    connect(button(tab, names.insert, QStringLiteral("新規作成本文に挿入"), 120, 4800, 2415),
            &QPushButton::clicked, this, [this, page] { InsertButton_Click(page); });
    connect(button(tab, names.paste, QStringLiteral("追加（貼付）"), 2640, 4800, 1815),
            &QPushButton::clicked, this, [this, page] { PasteButton_Click(page); });
    if (names.favourite) {
        connect(button(tab, names.favourite, QStringLiteral("お気に入りに追加"), 4560, 4800, 2055),
                &QPushButton::clicked, this, [this, page] { FavouriteButton_Click(page); });
    }
    return tab;
}

void KaoForm::buildCredits()
{
    label(this, QStringLiteral("Label4"),
          QStringLiteral("追加・削除、編集自由自在。自動で保存されます。県名や電話番号、氏名をあなた用に変更して下さい。"),
          120, 6810, 8505, 255);
    const QFont small(QStringLiteral("ＭＳ Ｐゴシック"), 8);
    const std::array<std::pair<const char16_t*, const char16_t*>, 4> credits{{
        {u"Label5", u"参考：ウィキペディア「顔文字」"},
        {u"Label6", u"https://ja.wikipedia.org/wiki/顔文字"},
        {u"Label7", u"参考：ウィキペディア「アスキーアート」"},
        {u"Label8", u"https://ja.wikipedia.org/wiki/アスキーアート"},
    }};
    for (int i = 0; i < 4; ++i) {
        const int top = i < 2 ? 7080 : 7305;
        const int left = i % 2 == 0 ? 120 : 3720;
        auto* credit = label(this, QString::fromUtf16(credits[i].first),
                             QString::fromUtf16(credits[i].second), left, top, i % 2 == 0 ? 3555 : 4905,
                             225);
        credit->setFont(small);
        credit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
}

void KaoForm::Form_Load()
{
    QStringList unreadable;
    for (int page = 0; page < PageCount; ++page) {
        const LoadedPage loaded = readPalette(m_app.appDir(), page);
        m_boxes[page]->setPlainText(loaded.text);
        m_unreadable[page] = loaded.unreadable;
        if (loaded.unreadable) {
            // Saving the empty page would destroy a file we merely failed to read.
            m_boxes[page]->setReadOnly(true);
            unreadable << QDir::toNativeSeparators(palettePath(m_app.appDir(), page));
        }
    }
    if (!unreadable.isEmpty()) {
        m_app.notify(this,
                     QStringLiteral("次の顔文字データを読み込めませんでした。このページは保存されません。\n") +
                         unreadable.join(u'\n'),
                     ui::MsgIcon::Exclamation);
    }
}

void KaoForm::Form_Unload()
{
    QStringList failed;
    for (int page = 0; page < PageCount; ++page) {
        if (m_unreadable[page])
            continue;
        const common::Status written = writePalette(m_app.appDir(), page, m_boxes[page]->toPlainText());
        if (!written)
            failed << QDir::toNativeSeparators(palettePath(m_app.appDir(), page));
    }
    if (!failed.isEmpty()) {
        m_app.notify(this,
                     QStringLiteral("次の顔文字データを保存できませんでした。\n") + failed.join(u'\n'),
                     ui::MsgIcon::Exclamation);
    }
}

void KaoForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

QString KaoForm::passSelectionThroughClipboard(QPlainTextEdit* box)
{
    box->hide();
    QTextCursor cursor = box->textCursor();
    const int remembered = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    // The program's texts break lines with CR LF, the clipboard included.
    clipboard()->clear();
    clipboard()->setText(withCrLf(cursor.selectedText()));
    cursor.setPosition(remembered);
    box->setTextCursor(cursor);
    box->show();
    box->setFocus();
    return clipboard()->text();
}

void KaoForm::InsertButton_Click(int page)
{
    const QString text = trimBlanks(passSelectionThroughClipboard(m_boxes.at(page)));
    // An empty insert would only delete whatever the body has selected.
    if (!text.isEmpty()) {
        m_app.navigator().insertIntoCompose(text);
    }
    close();
}

void KaoForm::FavouriteButton_Click(int page)
{
    const QString text = trimBlanks(passSelectionThroughClipboard(m_boxes.at(page)));
    if (!text.isEmpty())
        m_boxes[FavouritesPage]->insertPlainText(text);
}

void KaoForm::PasteButton_Click(int page)
{
    const QString text = trimBlanks(clipboard()->text());
    if (!text.isEmpty())
        m_boxes.at(page)->insertPlainText(text);
}

} // namespace corvidan::emoticons
