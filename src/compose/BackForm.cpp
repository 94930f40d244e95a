#include "compose/BackForm.h"

#include "common/FixedField.h"
#include "common/Text.h"
#include "ui/Application.h"
#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

namespace corvidan::compose {

namespace {

constexpr int DesignWidth = 7170;
constexpr int DesignHeight = 6615;
constexpr int StatusHeight = 375;
constexpr int RowHeight = 300;

using ui::make;

/// Every button of the window is one row high.
QPushButton* button(QWidget* parent, const QString& name, const QString& caption, int left,
                    int top, int width)
{
    return ui::button(parent, name, caption, left, top, width, RowHeight);
}

using common::text::trimBlanks;

} // namespace

BackForm::BackForm(ui::Application& app, QWidget* parent) : QWidget(parent), m_app(app)
{
    setObjectName(QStringLiteral("BackForm"));
    setWindowTitle(QStringLiteral("返事を書く"));
    resize(ui::px(DesignWidth), ui::px(DesignHeight));
    setStyleSheet(QStringLiteral("#BackForm { background-color: #eef3f8; }"));
    buildControls();
    connectHandlers();
}

void BackForm::buildControls()
{
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("送信"), 120, 120, 1215);
    Command3 = button(this, QStringLiteral("Command3"), QStringLiteral("送信中止"), 1440, 120, 1215);
    Command4 = button(this, QStringLiteral("Command4"), QStringLiteral("本文に貼付"), 2760, 120, 1215);

    const QString captions[] = {QStringLiteral("宛先"), QStringLiteral("題名"), QStringLiteral("添付File")};
    for (int i = 0; i < 3; ++i) {
        auto* strip = make<QLabel>(this, QStringLiteral("Label2_%1").arg(i), 0, 600 + 360 * i, 1095,
                                   RowHeight);
        strip->setText(captions[i]);
        strip->setAlignment(Qt::AlignCenter);
        strip->setStyleSheet(QStringLiteral("background-color: #3a5f8f; color: white;"));
    }
    ToText = make<QLineEdit>(this, QStringLiteral("ToText"), 1080, 600, 5000, RowHeight);
    SubjectText = make<QLineEdit>(this, QStringLiteral("SubjectText"), 1080, 960, 5000, RowHeight);
    AttachText = make<QLineEdit>(this, QStringLiteral("AttachText"), 1080, 1320, 2800, RowHeight);
    AttachCommand = button(this, QStringLiteral("AttachCommand"), QStringLiteral("添付"), 4120, 1320, 792);
    Command9 = button(this, QStringLiteral("Command9"), QStringLiteral("追加"), 4940, 1320, 855);
    Command10 = button(this, QStringLiteral("Command10"), QStringLiteral("取り消し"), 5820, 1320, 855);

    BodyText = make<QTextEdit>(this, QStringLiteral("BodyText"), 0, 1680, 7100, 4500);
    BodyText->setAcceptRichText(false);
    BodyText->setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), 10));

    // Drawn over the body's top while attachments are being chosen.
    List2 = make<QListWidget>(this, QStringLiteral("List2"), 1080, 1320, 3615, 1860);
    List2->raise();

    StatusBar1 = make<QStatusBar>(this, QStringLiteral("StatusBar1"), 0, 6240, DesignWidth, StatusHeight);
    StatusBar1->setSizeGripEnabled(false);
}

void BackForm::connectHandlers()
{
    connect(Command2, &QPushButton::clicked, this, &BackForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &BackForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &BackForm::Command4_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &BackForm::AttachCommand_Click);
    connect(Command9, &QPushButton::clicked, this, &BackForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &BackForm::Command10_Click);
}

void BackForm::Form_Load()
{
    AttachText->resize(ui::px(2800), AttachText->height());
    List2->hide();
    // The attachment buttons start as the compose window's do.
    AttachCommand->setEnabled(true);
    Command9->setEnabled(false);
    Command10->setEnabled(true);
}

void BackForm::Form_Resize()
{
    // The rule is stated in the window's outer size, frame and caption included.
    const int w = ui::outerWidthTw(this);
    const int h = ui::outerHeightTw(this);
    const auto setWidth = [](QWidget* control, double twips) {
        control->resize(ui::px(twips), control->height());
    };
    setWidth(BodyText, w * 0.99);
    setWidth(ToText, w * 0.7);
    setWidth(SubjectText, w * 0.7);
    setWidth(AttachText, w * 0.4);
    const int a = ui::tw(AttachText->width());
    AttachCommand->move(ui::px(a + 1240), AttachCommand->y());
    Command9->move(ui::px(a + 2060), Command9->y());
    Command10->move(ui::px(a + 2940), Command10->y());
    if (h > 3500) {
        const int rows = ui::tw(ToText->height() + SubjectText->height() + AttachText->height());
        BodyText->resize(BodyText->width(), ui::px(h - rows - 1500));
    }
    StatusBar1->setGeometry(0, height() - ui::px(StatusHeight), width(), ui::px(StatusHeight));
}

void BackForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void BackForm::Form_Unload()
{
    BodyText->clear();
}

void BackForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

QString BackForm::replySubject(const QString& subject)
{
    return QStringLiteral("Re:  ") + trimBlanks(subject);
}

void BackForm::FillReply(const QString& subject, const QString& address, const QString& body)
{
    SubjectText->setText(replySubject(subject));
    ToText->setText(trimBlanks(address));
    BodyText->setPlainText(trimBlanks(body));
}

QString BackForm::bodyText() const
{
    return BodyText->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

void BackForm::Command2_Click()
{
    transport::NMail& mail = m_app.mail();
    const storage::ServerSettings& server = m_app.state().server;
    m_app.prepareSmtpAccount();
    const int result = mail.NMailSmtpSendMail(server.SmtpServer, ToText->text(), QString(), QString(),
                                              server.MailAddress, SubjectText->text(), bodyText(),
                                              QString(), AttachText->text(), 0);
    if (result < 0) {
        QString message;
        int size = transport::NMail::BufferSize;
        mail.NMailGetMessage(0, message, size);
        m_app.ui().messageBox(this, common::CutAtNul(message), QStringLiteral("送信エラー"),
                              ui::MsgButtons::Ok, ui::MsgIcon::None);
        // The reply stays as typed so the cause can be fixed and 送信 pressed again.
        return;
    }
    close();
}

void BackForm::Command3_Click()
{
    close();
}

QString BackForm::rebuiltBody(const QString& clipboardText, const QString& receivedBody)
{
    return clipboardText + QStringLiteral("\r\n\r\n\r\n\r") + trimBlanks(receivedBody);
}

void BackForm::Command4_Click()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString rebuilt = rebuiltBody(clipboard->text(), m_app.state().ReceivedRecord.Body);
    BodyText->setPlainText(rebuilt);
    // The box cannot tell a lone CR from CR LF, so the clipboard gets the text as
    // built rather than as the box reads it back.
    clipboard->clear();
    clipboard->setText(rebuilt);
    BodyText->setPlainText(trimBlanks(clipboard->text()));
}

std::optional<QString> BackForm::chooseAttachment()
{
    const std::optional<QString> path = m_app.ui().openFileName(
        this, QStringLiteral("添付ファイル"), QStringLiteral("すべてのファイル (*)"));
    if (!path || path->isEmpty())
        return std::nullopt;
    return path;
}

void BackForm::AttachCommand_Click()
{
    Command9->setEnabled(true);
    if (const std::optional<QString> path = chooseAttachment()) {
        AttachText->setText(*path);
        List2->addItem(*path);
    }
    AttachCommand->setEnabled(false);
}

void BackForm::Command9_Click()
{
    List2->show();
    if (AttachText->text().isEmpty())
        return;
    const std::optional<QString> path = chooseAttachment();
    if (!path)
        return;
    AttachText->setText(AttachText->text() + u',' + *path);
    List2->addItem(*path);
}

void BackForm::Command10_Click()
{
    AttachText->clear();
    List2->clear();
    List2->hide();
    Command9->setEnabled(false);
    Command10->setEnabled(false);
    AttachCommand->setEnabled(true);
}

} // namespace corvidan::compose
