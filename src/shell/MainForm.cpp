#include "shell/MainForm.h"

#include "common/AppDir.h"
#include "emoticons/KaoForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "shell/Launch.h"
#include "shell/ReceiveHost.h"
#include "storage/ServerSettings.h"
#include "ui/Application.h"
#include "ui/ClockText.h"
#include "ui/HoverHints.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace corvidan::shell {

using namespace ui;

namespace {

// The client area is fixed; the background picture is a little larger, as
// designed, and is simply cut at the window's edge.
constexpr int ClientWidthTw = 7635;
constexpr int ClientHeightTw = 4380;

const QColor LabelColour(0xf6, 0xe7, 0xb4);
const QColor DecorationColour(0xc9, 0xd6, 0xf0);
const QColor StatusColour(0xff, 0xff, 0xff);
const QColor ResultColour(0xff, 0xd8, 0x6b);

// The manual built from the README is installed in the AppDir beside the
// program, so it always describes the version that opens it.
constexpr char16_t ManualPage[] = u"\\manual\\index.html";

QUrl homePage(const common::AppDir& appDir)
{
    return QUrl::fromLocalFile(appDir.path(ManualPage));
}

void paintText(QLabel* label, const QColor& colour)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

} // namespace

MainForm::MainForm(ui::Application& app, QWidget* parent) : QWidget(parent, Qt::Window), m_app(app)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Corvidan  Ver 1.25"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(ClientWidthTw), px(ClientHeightTw));

    m_hints = new ui::HoverHints(this);
    // Creation order is stacking order: the background first, the labels on top.
    createPictures();
    createFunctionLabels();
    createDecoration();
    createStatusControls();

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(1000);
    connect(m_timer2, &QTimer::timeout, this, &MainForm::Timer2_Timer);
}

void MainForm::createPictures()
{
    auto* image1 = new QLabel(this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setScaledContents(true);
    image1->setPixmap(QPixmap(QStringLiteral(":/shell/Image1.jpg")));
    placeTw(image1, 0, 0, 7680, 4440);
    m_hints->add(image1, QString());

    m_image2 = new QLabel(this);
    m_image2->setObjectName(QStringLiteral("Image2"));
    m_image2->setScaledContents(true);
    placeTw(m_image2, 2620, 1180, 2550, 2100);
    m_hints->add(m_image2, QStringLiteral("メールの新規作成・送信を行います。"));
}

void MainForm::createFunctionLabels()
{
    struct Row {
        const char16_t* name;
        const char16_t* caption;
        QRect twips;
        Handler click;
        const char16_t* hover;
    };
    static const Row rows[] = {
        {u"Label9", u"     新規作成", {480, 1680, 1215, 200}, &MainForm::Label9_Click,
         u"メールの新規作成・送信を行います。"},
        {u"Label8", u"        受信", {480, 2000, 1215, 190}, &MainForm::Label8_Click,
         u"新着メールの受信を行います。"},
        {u"Label7", u"   着信履歴", {600, 2280, 1095, 200}, &MainForm::Label7_Click,
         u"着信（着信履歴）したメールを見ます。"},
        {u"Label6", u"     送信履歴", {480, 2600, 1215, 200}, &MainForm::Label6_Click,
         u"送信（送信履歴）したメールを見ます。"},
        {u"Label10", u"   アドレス帳", {6000, 1740, 1215, 200}, &MainForm::Label10_Click,
         u"アドレス帳への登録を行います。着信からの自動入力、送信時の一発入力が可能になります。"},
        {u"Label11", u"       設定", {6000, 2040, 1215, 200}, &MainForm::Label11_Click,
         u"ID,PASS,サーバーの設定。これを行わないと通信エラーになります。"},
        {u"Label5", u"    HomePage", {6000, 2300, 1215, 200}, &MainForm::Label5_Click,
         u"メーラー専門店、作者のホームページです。"},
        {u"Label4", u"      Small", {6000, 2600, 1095, 200}, &MainForm::Label4_Click,
         u"フォーム（画面）を最小化します。"},
    };
    QFont font = this->font();
    font.setBold(true);
    for (const Row& row : rows) {
        QLabel* label = addLabel(QString::fromUtf16(row.name), QString::fromUtf16(row.caption),
                                 row.twips);
        label->setFont(font);
        label->setCursor(Qt::PointingHandCursor);
        paintText(label, LabelColour);
        setClick(label, row.click);
        m_hints->add(label, QString::fromUtf16(row.hover));
        // Reached by Tab as well: Enter or Space acts as a click.
        label->setFocusPolicy(Qt::StrongFocus);
    }
}

void MainForm::createDecoration()
{
    QFont serif(QStringLiteral("Book Antiqua"));
    serif.setItalic(true);
    serif.setPointSize(8);
    QLabel* future = addLabel(QStringLiteral("Label3_0"),
                              QStringLiteral("What are you plans for the future?"),
                              {4320, 0, 2895, 255});
    QLabel* always = addLabel(QStringLiteral("Label3_1"), QStringLiteral("I will love you for ever"),
                               {120, 4080, 2295, 255});
    QLabel* dedication = addLabel(QStringLiteral("Label1"),
                                  QStringLiteral("For those who still write letters"),
                                  {2880, 3720, 2055, 375});
    for (QLabel* label : {future, always, dedication}) {
        label->setFont(serif);
        paintText(label, DecorationColour);
    }
    dedication->setAlignment(Qt::AlignCenter);
    dedication->setWordWrap(true);
    m_hints->add(dedication, QStringLiteral("男の野望には終わりがない・・・"));
}

void MainForm::createStatusControls()
{
    const QFont gothic(QStringLiteral("ＭＳ Ｐゴシック"), 9);
    m_statusLine = addLabel(QStringLiteral("Label2"), QString(), {1440, 240, 4095, 615});
    m_statusLine->setFont(gothic);
    m_statusLine->setWordWrap(true);
    m_statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintText(m_statusLine, StatusColour);
    m_hints->showIn(m_statusLine);

    QFont resultFont(QStringLiteral("ＭＳ Ｐゴシック"), 11);
    resultFont.setBold(true);
    m_resultLine = addLabel(QStringLiteral("Label12"), QString(), {4800, 3840, 2775, 375});
    // Over the result line, which has nothing to say until the receive ends.
    m_receiveCancel = new QPushButton(QStringLiteral("中止"), this);
    m_receiveCancel->setObjectName(QStringLiteral("ReceiveCancel"));
    m_receiveCancel->setToolTip(QStringLiteral("受信を中止します（Esc）。受信中のメールは保存してから、または"
                                               "サーバーに残して止めます。"));
    placeTw(m_receiveCancel, 6240, 3840, 1335, 375);
    m_receiveCancel->hide();
    m_resultLine->setFont(resultFont);
    paintText(m_resultLine, ResultColour);
    m_hints->add(m_resultLine, QStringLiteral("流星を見る・・・"));

    // Lies below the client area: it keeps the date for sent mail, unseen.
    m_clockBox = new QLineEdit(this);
    m_clockBox->setObjectName(QStringLiteral("Text2"));
    placeTw(m_clockBox, 2880, 4920, 2175, 270);
    m_clockBox->setFocusPolicy(Qt::NoFocus);
    // Sent mail is dated by this box; the compose window reads it through the state.
    m_app.state().LauncherClock = [box = QPointer<QLineEdit>(m_clockBox)] {
        return box ? std::optional<QString>(box->text()) : std::nullopt;
    };
}

QLabel* MainForm::addLabel(const QString& name, const QString& caption, QRect twips)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    placeTw(label, twips.x(), twips.y(), twips.width(), twips.height());
    return label;
}

void MainForm::setClick(QWidget* control, Handler handler)
{
    control->installEventFilter(this);
    m_clickHandlers.insert(control, handler);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (m_clickHandlers.contains(watched) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_pressed = watched;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_clickHandlers.contains(watched) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            // A click is a press and a release on the same label.
            const bool inside = static_cast<QWidget*>(watched)->rect().contains(
                static_cast<QMouseEvent*>(event)->position().toPoint());
            const bool click = m_pressed == watched && inside;
            m_pressed = nullptr;
            if (click)
                (this->*m_clickHandlers.value(watched))();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (m_clickHandlers.contains(watched) &&
            (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
            (this->*m_clickHandlers.value(watched))();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        // A label reached with Tab is underlined and shows its hint, as a mouse over it does.
        if (m_clickHandlers.contains(watched)) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            const bool byKeyboard = event->type() == QEvent::FocusIn &&
                                    (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason);
            auto* control = static_cast<QWidget*>(watched);
            QFont font = control->font();
            font.setUnderline(byKeyboard);
            control->setFont(font);
            if (byKeyboard)
                m_hints->showFor(watched);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::Form_Load()
{
    m_timer2->start();
    Timer2_Timer();
    loadPicture(common::paths::BackgroundPicture);
    prepareComposeWindow(m_app);
    storage::ReadServerSettings(m_app.appDir().path(common::paths::ServerSettings),
                                m_app.state().server);
    m_app.mail().NMailInitializeWinSock();
    m_app.mail().NMailSetOption(1, 8192);
    if (m_app.state().server.Pop3Server.isEmpty()) {
        m_app.forms().get<settings::OptionForm>();
        // The launcher is shown after this; without a window manager keeping the
        // dialog on top it would open hidden behind it.
        QTimer::singleShot(0, this, [this] {
            if (auto* dialog = m_app.forms().find<settings::OptionForm>(); dialog && dialog->isVisible())
                bringUp(dialog);
        });
    }
}

void MainForm::Form_Unload()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_timer2->stop();
    m_app.mail().NMailEndWinSock();
    // The other windows are discarded without closing; an open palette would
    // lose what was typed into its pages.
    if (auto* palette = m_app.forms().find<emoticons::KaoForm>(); palette && palette->isVisible())
        palette->Form_Unload();
    m_app.forms().discardAllExcept(this);
    QCoreApplication::quit();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    // A closed launcher no longer dates sent mail, as it is gone from the registry.
    m_app.state().LauncherClock = nullptr;
    Form_Unload();
    event->accept();
}

void MainForm::loadPicture(QStringView windowsRelative)
{
    // A missing or unreadable picture leaves the frame empty: the launcher
    // works without one.
    m_image2->setPixmap(QPixmap(m_app.appDir().path(windowsRelative)));
}

void MainForm::ReceiveMail()
{
    const ReceiveRun run = runReceive(m_app, *this);
    // Closing the launcher during a receive stopped it; now the close goes ahead.
    if (run.closeRequested)
        close();
}

void MainForm::setReceiving(bool receiving)
{
    m_receiveCancel->setVisible(receiving);
    if (receiving)
        m_receiveCancel->raise();
}

void MainForm::setStatusLine(const QString& text)
{
    m_statusLine->setText(text);
}

void MainForm::setResultLine(const QString& text)
{
    m_resultLine->setText(text);
}

QString MainForm::statusLine() const
{
    return m_statusLine->text();
}

QString MainForm::resultLine() const
{
    return m_resultLine->text();
}

void MainForm::showNewMailPicture()
{
    loadPicture(common::paths::NewMailPicture);
}

QString MainForm::clockBoxText() const
{
    return m_clockBox->text();
}

void MainForm::Timer2_Timer()
{
    m_clockBox->setText(clockText(QDateTime::currentDateTime()));
}

void MainForm::Label8_Click()
{
    setStatusLine(QStringLiteral("メールを受信します。"));
    ReceiveMail();
    // Without a server the receive can only answer "新着メール無し。", which
    // leaves a new user guessing; the dialog that fixes it says more.
    if (m_app.state().server.Pop3Server.isEmpty())
        bringUp(m_app.forms().get<settings::OptionForm>());
}

void MainForm::Label9_Click()
{
    showComposeWindow(m_app);
}

void MainForm::Label7_Click()
{
    openHistory(m_app, 1);
}

void MainForm::Label6_Click()
{
    openHistory(m_app, 2);
}

void MainForm::Label10_Click()
{
    showAddressBook(m_app);
}

void MainForm::Label11_Click()
{
    bringUp(m_app.forms().get<settings::SetForm>());
}

void MainForm::Label5_Click()
{
    // No browser is not worth a message: the label simply does nothing then.
    m_app.ui().openUrl(homePage(m_app.appDir()));
}

void MainForm::Label4_Click()
{
    showMinimized();
}

} // namespace corvidan::shell
