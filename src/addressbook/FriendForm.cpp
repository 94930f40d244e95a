#include "addressbook/FriendForm.h"

#include "common/FixedField.h"
#include "common/Text.h"
#include "storage/AddressBookFile.h"
#include "ui/Application.h"
#include "ui/HoverHints.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"
#include "texts/ErrorText.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace corvidan::addressbook {

namespace {

constexpr int ClientWidth = 8250;
constexpr int ClientHeight = 6375;

using ui::button;
using ui::label;
using ui::make;

/// The window's two small decoration pictures: an envelope and a name card.
QPixmap decoration(bool envelope)
{
    QPixmap picture(28, 28);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x3a, 0x5f, 0x8f), 1.5));
    if (envelope) {
        p.setBrush(QColor(0xfa, 0xf3, 0xe0));
        p.drawRect(QRectF(2.5, 6.5, 23, 15));
        p.drawPolyline(QPolygonF({QPointF(2.5, 6.5), QPointF(14, 15.5), QPointF(25.5, 6.5)}));
    } else {
        p.setBrush(QColor(0xee, 0xf3, 0xf8));
        p.drawRoundedRect(QRectF(2.5, 5.5, 23, 17), 2, 2);
        p.drawEllipse(QRectF(5.5, 9.5, 6, 6));
        p.drawLine(QPointF(14, 11), QPointF(23, 11));
        p.drawLine(QPointF(14, 15), QPointF(21, 15));
    }
    return picture;
}

storage::AddressBookFile book(ui::Application& app)
{
    return storage::AddressBookFile::addressBook(app.appDir());
}

} // namespace

FriendForm::FriendForm(ui::Application& app, QWidget* parent) : QWidget(parent), m_app(app)
{
    setObjectName(QStringLiteral("FriendForm"));
    setWindowTitle(QStringLiteral("アドレス帳"));
    setFixedSize(ui::px(ClientWidth), ui::px(ClientHeight));
    setMouseTracking(true);
    buildControls();
    connectHandlers();
}

QString FriendForm::command38Hint()
{
    const QString nl = QStringLiteral("\r\n");
    return QStringLiteral("名刺とメールアドレスを組み合わせて「名刺<メールアドレス>」の形にします。"
                          "この形で登録したアドレスに送信すると、相手のメールソフトには"
                          "メールアドレスの代わりに名刺の名前が送信者として表示されます。") +
           nl +
           QStringLiteral("例：メールアドレスが taro@example.jp、名刺が 山田太郎 のとき、"
                          "山田太郎<taro@example.jp> になります。") +
           nl + nl + QStringLiteral("必要なければ挿入する必要はありません。");
}

void FriendForm::buildControls()
{
    label(this, "Label1_0", QStringLiteral("メールアドレス"), 120, 150, 1275, 255);
    Text4 = make<QLineEdit>(this, "Text4", 1440, 120, 4575, 300);
    Text4->setMaxLength(60);
    Text4->setAttribute(Qt::WA_InputMethodEnabled, false);
    Command1 = button(this, "Command1", QStringLiteral("貼付"), 6120, 105, 855, 330);

    label(this, "Label1_1", QStringLiteral("名前"), 120, 510, 1275, 255);
    Text2 = make<QLineEdit>(this, "Text2", 1440, 480, 2775, 300);
    Text2->setMaxLength(30);
    label(this, "Label1_3", QStringLiteral("登録件数"), 4320, 510, 855, 255);
    Text3 = make<QLineEdit>(this, "Text3", 5160, 480, 855, 300);
    Text3->setReadOnly(true);

    label(this, "Label1_2", QStringLiteral("名刺"), 120, 870, 1275, 255);
    Text50 = make<QLineEdit>(this, "Text50", 1440, 840, 2775, 300);
    Command38 = button(this, "Command38", QStringLiteral("名刺挿入"), 4320, 825, 1695, 330);

    make<QLabel>(this, "Image1", 6150, 510, 420, 420)->setPixmap(decoration(true));
    make<QLabel>(this, "Image2", 6600, 510, 420, 420)->setPixmap(decoration(false));

    Command3 = button(this, "Command3", QStringLiteral("登録"), 7080, 105, 1050, 450);
    Command4 = button(this, "Command4", QStringLiteral("削除"), 7080, 690, 1050, 450);

    label(this, "Label4",
          QStringLiteral("名刺は新規作成で宛先、１発挿入した際の確認用として使用します。"), 120,
          1260, 8010, 255);

    MailListView = make<QTreeWidget>(this, "MailListView", 120, 1560, 8010, 4095);
    MailListView->setRootIsDecorated(false);
    MailListView->setSortingEnabled(false);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setColumnCount(0);
    // Cells keep the fields' trailing blanks; an ellipsis would only show blanks cut.
    MailListView->setTextElideMode(Qt::ElideNone);
    MailListView->viewport()->setMouseTracking(true);

    auto* picture1 = make<QFrame>(this, "Picture1", 0, 5760, ClientWidth, 615);
    picture1->setFrameShape(QFrame::Panel);
    Label7 = label(picture1, "Label7", QString(), 120, 150, 8010, 315);

    Text5 = make<QPlainTextEdit>(this, "Text5", 1320, 1800, 5610, 3000);
    Text5->setReadOnly(true);
    Text5->hide();

    // Outside the visible area, as the window has always had them.
    Command2 = button(this, "Command2", QStringLiteral("Command2"), 8400, 120, 1215, 375);
    label(this, "Label3", QStringLiteral("※重要削除するな！！"), 8400, 600, 1815, 255);
    label(this, "Label2", QString(), 8400, 960, 0, 0);
    Text1 = make<QLineEdit>(this, "Text1", 0, 0, 0, 0);
    // Nobody sees them, so Tab must not stop on them.
    Command2->setFocusPolicy(Qt::NoFocus);
    Text1->setFocusPolicy(Qt::NoFocus);

    m_hints = new ui::HoverHints(Text5);
    m_hints->add(Command1, QStringLiteral("コピーして来たメールアドレスを貼り付けます。"));
    m_hints->add(Command3, QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの"
                                          "一発入力が可能になります。"));
    m_hints->add(Command4, QStringLiteral("不要になったメールアドレスを削除します。"));
    m_hints->add(Command38, command38Hint());
}

void FriendForm::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &FriendForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FriendForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &FriendForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &FriendForm::Command4_Click);
    connect(Command38, &QPushButton::clicked, this, &FriendForm::Command38_Click);
    MailListView->viewport()->installEventFilter(this);
    // Captions and the status strip are background to the user: the hint that
    // covers the list goes away over them too, not only over the bare window.
    const QList<QWidget*> decoration = findChildren<QWidget*>();
    for (QWidget* w : decoration) {
        if (qobject_cast<QLabel*>(w) || w->objectName() == QStringLiteral("Picture1")) {
            m_hints->addQuiet(w);
        }
    }
}

void FriendForm::Form_Load()
{
    const int width = MailListView->width();
    MailListView->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
    MailListView->setColumnWidth(0, width / 2);
    MailListView->setColumnWidth(1, width / 3);
    Text3->setText(QString::number(MailListView->topLevelItemCount()));
    Label7->setText(QString());
    Command2_Click();
}

void FriendForm::setAddressText(const QString& address)
{
    Text4->setText(address);
}

void FriendForm::Command2_Click()
{
    MailListView->clear();
    const auto file = book(m_app);
    common::Status status = file.EnsureExists();
    if (status) {
        status = file.Enumerate([this](int, const storage::AddressRecord& record) {
            auto* row = new QTreeWidgetItem(MailListView);
            row->setText(0, common::CutAtNul(record.Address));
            row->setText(1, common::CutAtNul(record.Name));
            return true;
        });
    }
    Text3->setText(QString::number(MailListView->topLevelItemCount()));
    if (!status)
        reportStorageError(status);
}

int FriendForm::selectedRecordNo() const
{
    const QList<QTreeWidgetItem*> selected = MailListView->selectedItems();
    if (selected.isEmpty())
        return 0;
    return MailListView->indexOfTopLevelItem(selected.first()) + 1;
}

void FriendForm::MailListView_MouseDown()
{
    const int n = selectedRecordNo();
    if (n == 0)
        return;
    const auto record = book(m_app).ReadRecord(n);
    if (!record)
        return;
    Text2->setText(common::text::trimBlanks(record->Name));
    Text4->setText(common::text::trimBlanks(record->Address));
    Label7->setText(QStringLiteral("　選択しました。"));
}

void FriendForm::Command1_Click()
{
    Text4->setText(QGuiApplication::clipboard()->text());
}

void FriendForm::Command38_Click()
{
    if (Text4->text().isEmpty()) {
        m_app.notify(this, QStringLiteral("メールアドレスが入力されていません"));
        return;
    }
    if (Text50->text().isEmpty()) {
        m_app.notify(this, QStringLiteral("名詞が入力されていません"));
        return;
    }
    Text4->setText(Text50->text() + u'<' + common::text::trimBlanks(Text4->text()) + u'>');
}

void FriendForm::Command3_Click()
{
    // The record's fields are code page 932 for good; a character they cannot
    // hold is refused rather than stored as a stand-in. A yen sign is refused
    // too: its byte 0x5C reads back as a backslash, another address.
    if (const QString refusal = ui::unsavableCharactersMessage(Text2->text() + Text4->text());
        !refusal.isEmpty()) {
        m_app.notify(this, refusal, ui::MsgIcon::Exclamation);
        return;
    }
    storage::AddressRecord record;
    record.Name = Text2->text();
    record.Address = Text4->text();
    record.Live = 1;
    std::int16_t n = 0;
    auto file = book(m_app);
    const common::Status status = file.AppendRecord(record, &n);
    if (!status) {
        reportStorageError(status);
        return;
    }
    m_app.state().CurrentRecordNo = n;
    Label7->setText(QStringLiteral("　登録が完了しました。"));
    Command2_Click();
}

void FriendForm::Command4_Click()
{
    const int n = selectedRecordNo();
    if (Text4->text().isEmpty() || n == 0) {
        m_app.notify(this, QStringLiteral("データが選択されていません"));
        return;
    }
    auto file = book(m_app);
    const std::optional<QByteArray> shown = file.ReadRecordBytes(n);
    const std::optional<storage::AddressRecord> record =
        shown ? std::optional(storage::AddressRecord::fromBytes(shown->constData())) : std::nullopt;
    if (!record) {
        reportStorageError(common::Status::fail(common::ErrorCode::NotFound, file.path()));
        Command2_Click();
        return;
    }
    Text2->setText(common::text::trimBlanks(record->Name));
    Text4->setText(common::text::trimBlanks(record->Address));
    m_app.state().CurrentRecordNo = static_cast<std::int16_t>(n);
    Label7->setText(QStringLiteral(" "));

    const ui::MsgAnswer answer = m_app.ui().messageBox(
        this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"),
        QStringLiteral("確認"), ui::MsgButtons::YesNoDefaultNo, ui::MsgIcon::Question);
    if (answer == ui::MsgAnswer::Yes) {
        // Only the entry shown while the question was open may go.
        if (const common::Status deleted = file.DeleteRecord(n, *shown); !deleted)
            reportStorageError(deleted);
        else
            Label7->setText(QStringLiteral("削除が完了しました"));
    } else if (const common::Status compacted = file.Compact(); !compacted) {
        // The file is rewritten whatever the answer, as it always has been.
        reportStorageError(compacted);
    }
    Command2_Click();
}

void FriendForm::reportStorageError(const common::Status& status)
{
    QString text;
    switch (status.code()) {
    case common::ErrorCode::TooManyRecords:
        text = QStringLiteral("アドレス帳には32767件までしか登録できません。");
        break;
    case common::ErrorCode::DiskFull:
        text = QStringLiteral("ディスクの空きが足りないため、アドレス帳に書き込めませんでした。");
        break;
    default:
        text = QStringLiteral("アドレス帳のファイルを読み書きできませんでした。");
        break;
    }
    if (const QString why = texts::StatusText(status); !why.isEmpty())
        text += QStringLiteral("\r\n") + why;
    m_app.notify(this, text, ui::MsgIcon::Warning);
}

void FriendForm::mouseMoveEvent(QMouseEvent* event)
{
    m_hints->hide();
    QWidget::mouseMoveEvent(event);
}

bool FriendForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MailListView->viewport() && event->type() == QEvent::MouseButtonPress) {
        // The row under the pointer is the one meant, even before Qt selects it.
        const auto* press = static_cast<QMouseEvent*>(event);
        if (QTreeWidgetItem* item = MailListView->itemAt(press->position().toPoint()))
            MailListView->setCurrentItem(item);
        MailListView_MouseDown();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvidan::addressbook
