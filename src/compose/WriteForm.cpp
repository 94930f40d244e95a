#include "compose/WriteForm.h"

#include "compose/SendMail.h"
#include "storage/AddressBookFile.h"
#include "ui/Application.h"
#include "ui/ClockText.h"
#include "ui/HoverHints.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"
#include "texts/ErrorText.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace corvidan::compose {

namespace {

// The handlers size this window by its outer size, frame and caption included
// (shell/Twips.h): that keeps the panel at 6960 hidden at 7100 and the row at
// 8115 hidden at 8200.
constexpr int NarrowWidth = 7100;
constexpr int WideWidth = 9700;
constexpr int NormalHeight = 8200;
constexpr int PasteRowHeight = 8955;

using ui::button;
using ui::label;
using ui::make;

QString clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

/// Reports the send operation's progress in the window and keeps it painted.
class WindowSendObserver final : public SendObserver {
public:
    WindowSendObserver(ui::Application& app, QWidget* form, QLabel* status,
                       std::function<void(const QString&)> setBody, bool bulk)
        : m_app(app), m_form(form), m_status(status), m_setBody(std::move(setBody)), m_bulk(bulk)
    {
    }

    void status(const QString& text) override
    {
        if (!m_status)
            return;
        m_status->setText(text);
        repaint();
    }
    void progress(int i, int n) override
    {
        if (!m_status)
            return;
        if (m_bulk)
            m_status->setText(SendMailOperation::sendingText() +
                              QStringLiteral("（%1/%2件目）").arg(i).arg(n));
        repaint();
    }
    void bodyChanged(const QString& body) override
    {
        if (m_form)
            m_setBody(body);
    }
    // Painting lets the launcher's close through, which ends the program and
    // discards this window while the send still runs.
    bool shouldStop() override { return m_form.isNull(); }
    void recordWritten(std::int16_t n, const storage::MailRecord& record) override
    {
        m_app.state().SentRecord = record;
        m_app.state().CurrentRecordNo = n;
    }
    void sendFailed(const QString& text) override
    {
        // A bulk send lists its failures in one box at the end instead.
        if (m_bulk)
            return;
        m_app.ui().messageBox(m_form, text, QStringLiteral("送信エラー"), ui::MsgButtons::Ok,
                              ui::MsgIcon::None);
    }
    void recordFailed(const common::Status& status) override
    {
        QString text;
        switch (status.code()) {
        case common::ErrorCode::TooManyRecords:
            text = QStringLiteral("送信履歴が32767件に達しているため記録できません。");
            break;
        case common::ErrorCode::DiskFull:
            text = QStringLiteral("ディスクの空きが足りないため送信履歴に記録できません。");
            break;
        default:
            text = QStringLiteral("送信履歴に記録できません。\r\n") + texts::StatusText(status);
            break;
        }
        text += QStringLiteral("\r\nメールは送信していません。");
        m_app.ui().messageBox(m_form, text, QStringLiteral("送信エラー"), ui::MsgButtons::Ok,
                              ui::MsgIcon::Warning);
    }

private:
    static void repaint()
    {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    ui::Application& m_app;
    QPointer<QWidget> m_form;
    QPointer<QLabel> m_status;
    std::function<void(const QString&)> m_setBody;
    bool m_bulk;
};

/// The window's client size hides the address panel and the state boxes below
/// and to the right of it; Tab must not stop where nobody can see. Each control
/// keeps its own focus policy for when the window grows again.
void keepTabStopsInside(QWidget* window, QSize client)
{
    const char* const designed = "corvidanDesignedFocusPolicy";
    for (QWidget* control : window->findChildren<QWidget*>()) {
        // A control with a focus proxy hands its policy on to the proxy.
        if (control->window() != window || control->focusProxy())
            continue;
        if (!control->property(designed).isValid())
            control->setProperty(designed, static_cast<int>(control->focusPolicy()));
        const QRect at(control->mapTo(window, QPoint(0, 0)), control->size());
        const bool seen = !at.isEmpty() && QRect(QPoint(0, 0), client).contains(at.center());
        control->setFocusPolicy(seen ? static_cast<Qt::FocusPolicy>(control->property(designed).toInt())
                                     : Qt::NoFocus);
    }
}

} // namespace

WriteForm::WriteForm(ui::Application& app, QWidget* parent) : QWidget(parent), m_app(app)
{
    setObjectName(QStringLiteral("WriteForm"));
    setWindowTitle(QStringLiteral("新規作成・送信"));
    setMouseTracking(true);
    buildControls();
    setHints();
    connectHandlers();
}

QStringList WriteForm::stockPhrases()
{
    return {
        QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"),
        QStringLiteral("平素のご愛顧誠にありがとうございます。"),
        QStringLiteral("平素は格別のご愛顧を賜り深謝申し上げます。"),
        QStringLiteral("いつもお世話になっております。"),
        QStringLiteral("メールありがとうございました。確かに受け取りました。"),
        QStringLiteral("はじめまして、突然のメールで恐縮です。"),
        QStringLiteral("こんにちわ。はじめてメールいたします。"),
        QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"),
    };
}

QString WriteForm::command8Hint()
{
    const QString nl = QStringLiteral("\r\n");
    return QStringLiteral("顔・絵文字の本文への挿入を行います。") + nl + nl +
           QStringLiteral("使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、"
                          "「新規作成本文に挿入」ボタンを。") +
           QStringLiteral("クリックしますと、本分中に挿入されます。") + nl + nl +
           QStringLiteral("素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。"
                          "画面を終了させると自動的に保存されます。") +
           nl +
           QStringLiteral("上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良いでしょう。") +
           nl +
           QStringLiteral("お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態にし、"
                          "顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい。");
}

void WriteForm::buildControls()
{
    Command1 = button(this, "Command1", QStringLiteral("送信"), 120, 120, 1335, 375);
    Command3 = button(this, "Command3", QStringLiteral("送信中止"), 120, 600, 1335, 375);
    Command4 = button(this, "Command4", QStringLiteral("アドレス帳"), 1680, 120, 1335, 375);
    Command5 = button(this, "Command5", QStringLiteral("本文に貼付"), 1680, 600, 1335, 375);
    Command6 = button(this, "Command6", QStringLiteral("元のサイズ"), 3240, 120, 1335, 375);
    Command7 = button(this, "Command7", QStringLiteral("宛先に貼付"), 3240, 600, 1335, 375);
    Command8 = button(this, "Command8", QStringLiteral("顔・絵文字"), 4680, 120, 1455, 375);
    Command11 = button(this, "Command11", QStringLiteral("クリア"), 4680, 600, 1455, 375);

    const char* stripNames[] = {"Picture2_0", "Picture2_1", "Picture2_2", "Picture2_3"};
    const char* labelNames[] = {"Label2_0", "Label2_1", "Label2_2", "Label2_3"};
    const QString captions[] = {QStringLiteral("宛先"), QStringLiteral("件名"),
                                QStringLiteral("首記例"), QStringLiteral("占い添付")};
    const int tops[] = {1200, 1560, 1920, 2640};
    for (int i = 0; i < 4; ++i) {
        auto* strip = make<QFrame>(this, stripNames[i], 120, tops[i], 1095, 300);
        label(strip, labelNames[i], captions[i], 0, 0, 1095, 300)->setAlignment(Qt::AlignCenter);
        m_fortuneCaption = strip;
    }

    ToText = make<QLineEdit>(this, "ToText", 1200, 1200, 5415, 300);
    ToText->setMaxLength(60);
    SubjectText = make<QLineEdit>(this, "SubjectText", 1200, 1560, 5415, 300);
    Combo1 = make<QComboBox>(this, "Combo1", 1200, 1920, 5415, 300);
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);

    AttachCommand = button(this, "AttachCommand", QStringLiteral("添付File"), 120, 2280, 855, 300);
    Command9 = button(this, "Command9", QStringLiteral("追加"), 960, 2280, 855, 300);
    Command10 = button(this, "Command10", QStringLiteral("取り消し"), 1800, 2280, 855, 300);
    AttachText = make<QLineEdit>(this, "AttachText", 2640, 2280, 3975, 300);

    auto* picture7 = make<QFrame>(this, "Picture7", 1200, 2640, 4935, 300);
    m_fortuneRow = picture7;
    label(picture7, "Label3",
          QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"), 0, 0, 4935, 300);
    Check1 = make<QCheckBox>(this, "Check1", 6240, 2640, 255, 300);

    BodyText = make<QPlainTextEdit>(this, "BodyText", 120, 3000, 6495, 4335);
    BodyText->viewport()->setMouseTracking(true);
    List2 = make<QListWidget>(this, "List2", 2640, 2280, 3975, 1860);
    Text14 = make<QPlainTextEdit>(this, "Text14", 840, 3840, 5175, 2655);
    Text14->setReadOnly(true);

    auto* picture6 = make<QFrame>(this, "Picture6", 120, 7320, 6495, 375);
    Label7 = label(picture6, "Label7", QString(), 120, 120, 6015, 300);

    Picture5 = make<QFrame>(this, "Picture5", 6960, 1200, 2350, 6495);
    auto* picture1 = make<QFrame>(Picture5, "Picture1", 120, 120, 2055, 495);
    label(picture1, "Label1", QStringLiteral("アドレス帳"), 60, 120, 1035, 255);
    label(picture1, "Label5", QStringLiteral("件数"), 1110, 120, 435, 255);
    Text1 = make<QLineEdit>(picture1, "Text1", 1560, 90, 435, 300);
    List1 = make<QListWidget>(Picture5, "List1", 120, 600, 2055, 5100);
    List1->setAutoFillBackground(true);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1->setTextElideMode(Qt::ElideNone);
    auto* frame4 = make<QGroupBox>(Picture5, "Frame4", 120, 5760, 2055, 615);
    Option2 = make<QRadioButton>(frame4, "Option2", 60, 240, 1080, 300);
    Option2->setText(QStringLiteral("一括送信"));
    Option1 = make<QRadioButton>(frame4, "Option1", 1200, 240, 795, 300);
    Option1->setText(QStringLiteral("取消"));

    Text4 = make<QLineEdit>(this, "Text4", 1560, 8115, 2295, 375);
    Command2 = button(this, "Command2", QStringLiteral("貼付け"), 9720, 3960, 720, 240);
    Check2 = make<QCheckBox>(this, "Check2", 9720, 4320, 255, 255);
    Text3 = make<QLineEdit>(this, "Text3", 9720, 4680, 720, 300);
}

void WriteForm::setHints()
{
    m_hints = new ui::HoverHints(Text14);
    m_hints->add(Command1, QStringLiteral("送信します。電話回線が接続されていない場合は、"
                                          "自動的に接続してメールを送信します。"));
    m_hints->add(Command3, QStringLiteral("送信を中止します。"));
    m_hints->add(Command4, QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が"
                                          "一覧（リスト）に現れます。送信したい名称をクリックすると、"
                                          "メールアドレスが自動的に入力されます。"));
    m_hints->add(Command5, QStringLiteral("本ソフト、他のアプリからのテキスト文書を本文中に貼付けます。"));
    m_hints->add(Command6, QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。"));
    m_hints->add(Command7, QStringLiteral("コピーして来た内容を宛先に貼付ます。"));
    m_hints->add(Command9, QStringLiteral("添付ファイルを複数送信する際に使用します。"
                                          "確認しやすいように、リストボックスが表示されます。"));
    m_hints->add(Command11, QStringLiteral("宛先、件名、本文他、設定等が初期状態に戻せます。"));
    m_hints->add(AttachCommand, QStringLiteral("各種ファイルを添付して送信できます。"));
    m_hints->add(Command8, command8Hint());
    m_hints->addQuiet(BodyText->viewport());
}

void WriteForm::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &WriteForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &WriteForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &WriteForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &WriteForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &WriteForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &WriteForm::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &WriteForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &WriteForm::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &WriteForm::Command11_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &WriteForm::AttachCommand_Click);
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    List1->viewport()->installEventFilter(this);
    Combo1->installEventFilter(this);
    Label7->installEventFilter(this);
}

void WriteForm::setOuterSizeTw(int widthTw, int heightTw)
{
    m_outerWidthTw = widthTw;
    m_outerHeightTw = heightTw;
    const QSize client = ui::clientSizeForOuterTw(widthTw, heightTw);
    setFixedSize(client);
    keepTabStopsInside(this, client);
}

void WriteForm::Form_Load()
{
    setOuterSizeTw(NarrowWidth, NormalHeight);
    deselectOption2();
    Text3->hide();
    Command2->hide();
    Command2->setEnabled(false);
    Command9->setEnabled(false);
    showAttachmentList(false);
    Text14->hide();
    Check1->setChecked(false);
    Check2->setChecked(false);
    setListColour(false);
    Combo1->clear();
    Combo1->addItems(stockPhrases());
    Combo1->setCurrentIndex(-1);
    fillAddressList(false);
    // Typing starts at the recipient; the button row comes first in the window, and a
    // stray space on 送信 would send an empty mail.
    ToText->setFocus();
}

void WriteForm::fillAddressList(bool fromAddressBook)
{
    m_listRecordNo.assign(1, 0);
    List1->clear();
    const auto file = fromAddressBook ? storage::AddressBookFile::addressBook(m_app.appDir())
                                      : storage::AddressBookFile::composeList(m_app.appDir());
    common::Status status = file.EnsureExists();
    if (status) {
        status = file.Enumerate([this](int n, const storage::AddressRecord& record) {
            List1->addItem(record.Name);
            m_listRecordNo.back() = static_cast<std::int16_t>(n);
            m_listRecordNo.push_back(0);
            return true;
        });
    }
    Text1->setText(QString::number(List1->count()));
    // Start-up stays quiet; a press of "アドレス帳" deserves an answer.
    if (!status && fromAddressBook)
        m_app.notify(this, QStringLiteral("アドレス帳を読み込めませんでした。\r\n") + texts::StatusText(status),
                     ui::MsgIcon::Warning);
}

void WriteForm::centreOnScreen()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect area = s->geometry();
    const QSize outer(ui::px(m_outerWidthTw), ui::px(m_outerHeightTw));
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void WriteForm::setListColour(bool bulk)
{
    QPalette palette = List1->palette();
    palette.setColor(QPalette::Base, bulk ? QColor(0, 128, 0) : QColor(255, 255, 255));
    List1->setPalette(palette);
}

void WriteForm::deselectOption2()
{
    // Option buttons of one frame exclude each other; both may stand unselected.
    Option2->setAutoExclusive(false);
    Option2->setChecked(false);
    Option2->setAutoExclusive(true);
}

QString WriteForm::bodyText() const
{
    return BodyText->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

void WriteForm::setBodyText(const QString& crlfText)
{
    QString text = crlfText;
    BodyText->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    BodyText->moveCursor(QTextCursor::End);
}

void WriteForm::setFortuneChecked(bool on)
{
    Check1->setChecked(on);
}

void WriteForm::insertText(const QString& text)
{
    BodyText->insertPlainText(text);
}

QString WriteForm::clockText() const
{
    // The launcher's clock box dates sent mail; without a launcher, the same format.
    if (const auto& launcher = m_app.state().LauncherClock)
        if (const std::optional<QString> shown = launcher())
            return *shown;
    return ui::clockText(QDateTime::currentDateTime());
}

void WriteForm::setFortuneDraw(std::function<float()> draw)
{
    m_fortuneDraw = std::move(draw);
}

void WriteForm::Command1_Click()
{
    Command9->setEnabled(false);
    showAttachmentList(false);
    AttachCommand->setEnabled(true);

    SendInput input;
    input.smtpServer = m_app.state().server.SmtpServer;
    input.sender = m_app.state().server.MailAddress;
    input.to = ToText->text();
    input.subject = SubjectText->text();
    input.body = bodyText();
    input.attachments = AttachText->text();
    input.fortune = Check1->isChecked();
    input.bulk = Option2->isChecked();
    const int rows = List1->count();
    input.listRecordNo.assign(m_listRecordNo.begin(), m_listRecordNo.begin() + rows);
    input.clockText = [this] { return clockText(); };
    input.random = m_fortuneDraw;

    // The fortune is added to the body box while sending; a retry starts from what was typed.
    const QString typedBody = BodyText->toPlainText();
    auto sender = makeSender();
    WindowSendObserver observer(
        m_app, this, Label7, [this](const QString& body) { setBodyText(body); }, input.bulk);
    SendMailOperation operation(m_app.appDir(), *sender, observer);
    const QPointer<WriteForm> self(this);
    m_sending = true;
    const SendOutcome outcome = operation.run(input);
    if (!self)
        return;
    m_sending = false;

    if (outcome.aborted) {
        // Nothing may leave unrecorded: keep the message so it can be sent once there is room.
        Label7->setText(QStringLiteral("送信を中止しました。"));
        return;
    }
    if (!input.bulk && outcome.failed > 0) {
        // Everything typed and attached stays, so the cause can be fixed and 送信 pressed again.
        BodyText->setPlainText(typedBody);
        Label7->setText(QStringLiteral("送信できませんでした。"));
        return;
    }
    if (input.bulk && outcome.passes > 0)
        m_app.ui().messageBox(this, bulkSummaryText(outcome), QStringLiteral("送信結果"),
                              ui::MsgButtons::Ok,
                              outcome.failures.empty() ? ui::MsgIcon::Information : ui::MsgIcon::Exclamation);
    Label7->setText(QStringLiteral("送信完了です。"));
    ToText->clear();
    SubjectText->clear();
    BodyText->clear();
    AttachText->clear();
    Check1->setChecked(false);
    deselectOption2();
    close();
}

void WriteForm::setSenderFactory(std::function<std::unique_ptr<MailSender>()> factory)
{
    m_senderFactory = std::move(factory);
}

std::unique_ptr<MailSender> WriteForm::makeSender()
{
    if (m_senderFactory)
        return m_senderFactory();
    m_app.prepareSmtpAccount();
    return std::make_unique<NMailSender>(m_app.mail());
}

void WriteForm::Command2_Click()
{
    Text4->setText(clipboardText());
}

void WriteForm::Command3_Click()
{
    close();
}

void WriteForm::Command4_Click()
{
    setOuterSizeTw(WideWidth, m_outerHeightTw);
    centreOnScreen();
    fillAddressList(true);
}

void WriteForm::Command5_Click()
{
    setBodyText(bodyText() + clipboardText());
}

void WriteForm::Command6_Click()
{
    setOuterSizeTw(NarrowWidth, m_outerHeightTw);
    setListColour(false);
    centreOnScreen();
}

void WriteForm::Command7_Click()
{
    ToText->setText(clipboardText());
}

void WriteForm::Command8_Click()
{
    m_app.navigator().showPalette();
}

void WriteForm::AttachCommand_Click()
{
    Command9->setEnabled(true);
    const auto path = m_app.ui().openFileName(this, QStringLiteral("添付ファイル"),
                                              QStringLiteral("すべてのファイル (*)"));
    if (path && !path->isEmpty()) {
        AttachText->setText(*path);
        List2->addItem(*path);
    }
    AttachCommand->setEnabled(false);
}

void WriteForm::Command9_Click()
{
    showAttachmentList(true);
    if (AttachText->text().isEmpty())
        return;
    const auto path = m_app.ui().openFileName(this, QStringLiteral("添付ファイル"),
                                              QStringLiteral("すべてのファイル (*)"));
    if (path && !path->isEmpty()) {
        AttachText->setText(AttachText->text() + u',' + *path);
        List2->addItem(*path);
    }
}

void WriteForm::Command10_Click()
{
    AttachText->clear();
    List2->clear();
    showAttachmentList(false);
    Command9->setEnabled(false);
    Command10->setEnabled(false);
    AttachCommand->setEnabled(true);
}

/// The list hangs below the attachment row; while it shows, the fortune row and
/// the body's top move down below it (the body's bottom stays), so the list
/// hides neither the fortune switch nor a line of the body.
void WriteForm::showAttachmentList(bool shown)
{
    constexpr int FortuneTopTw = 2640;
    constexpr int BodyTopTw = 3000;
    constexpr int BodyHeightTw = 4335;
    constexpr int RowGapTw = 60;
    const int listBottomTw = ui::tw(List2->geometry().bottom() + 1);
    const int shiftTw = shown ? std::max(0, listBottomTw + RowGapTw - FortuneTopTw) : 0;
    List2->setVisible(shown);
    for (QWidget* w : {m_fortuneCaption, m_fortuneRow, static_cast<QWidget*>(Check1)})
        w->move(w->x(), ui::px(FortuneTopTw + shiftTw));
    ui::placeTw(BodyText, 120, BodyTopTw + shiftTw, 6495, BodyHeightTw - shiftTw);
}

void WriteForm::Command11_Click()
{
    ToText->clear();
    SubjectText->clear();
    BodyText->clear();
    AttachText->clear();
    deselectOption2();
    List2->clear();
    showAttachmentList(false);
    Command9->setEnabled(false);
    Command10->setEnabled(false);
    AttachCommand->setEnabled(true);
    Check1->setChecked(false);
    setListColour(false);
}

void WriteForm::Option1_Click()
{
    ToText->clear();
    setListColour(false);
}

void WriteForm::Option2_Click()
{
    setListColour(true);
}

void WriteForm::List1_MouseDown()
{
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty()) {
        m_app.notify(this, QStringLiteral("データが選択されていません"), ui::MsgIcon::Warning);
        List1->setFocus();
        return;
    }
    const int row = List1->row(selected.first());
    if (row < 0 || row >= static_cast<int>(m_listRecordNo.size()))
        return;
    const auto record =
        storage::AddressBookFile::addressBook(m_app.appDir()).ReadRecord(m_listRecordNo[row]);
    if (record)
        ToText->setText(trimBlanks(record->Address.left(60)));
}

void WriteForm::Combo1_LostFocus()
{
    setBodyText(Combo1->currentText());
}

void WriteForm::Label7_DblClick()
{
    if (ToText->text() != QStringLiteral("qoxe"))
        return;
    setOuterSizeTw(m_outerWidthTw, PasteRowHeight);
    Command2->show();
    Command2->setEnabled(true);
}

void WriteForm::closeEvent(QCloseEvent* event)
{
    // The window stays painted while a bulk send runs; it must not go away under it.
    if (m_sending) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void WriteForm::mouseMoveEvent(QMouseEvent* event)
{
    m_hints->hide();
    QWidget::mouseMoveEvent(event);
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == List1->viewport() && type == QEvent::MouseButtonPress) {
        // The row under the pointer is the one meant, even before Qt selects it.
        const auto* press = static_cast<QMouseEvent*>(event);
        if (QListWidgetItem* item = List1->itemAt(press->position().toPoint()))
            List1->setCurrentItem(item);
        List1_MouseDown();
    } else if (watched == Combo1 && type == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            Combo1_LostFocus();
    } else if (watched == Label7 && type == QEvent::MouseButtonDblClick) {
        Label7_DblClick();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvidan::compose
