#include "settings/OptionForm.h"

#include "common/AppDir.h"
#include "storage/ServerSettings.h"
#include "ui/Application.h"
#include "texts/ErrorText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvidan::settings {

namespace {

// The settings file keeps 100 characters of each value; a longer entry would
// not come back as typed at the next start.
constexpr int MaxValueLength = 100;

QLineEdit* addField(QVBoxLayout* layout, QWidget* form, const QString& labelName,
                    const QString& caption, const QString& editName, const QString& example)
{
    auto* label = new QLabel(caption, form);
    label->setObjectName(labelName);
    auto* edit = new QLineEdit(form);
    edit->setObjectName(editName);
    edit->setMaxLength(MaxValueLength);
    // An example of the form each box wants, shown only while the box is
    // empty and never stored.
    edit->setPlaceholderText(QStringLiteral("例: ") + example);
    edit->setMinimumWidth(280);
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addSpacing(6);
    return edit;
}

} // namespace

OptionForm::OptionForm(ui::Application& app, QWidget* parent)
    : QWidget(parent, Qt::Window), m_app(app)
{
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(3);
    m_smtpText = addField(layout, this, QStringLiteral("Label1"),
                          QStringLiteral("SMTPサーバー名(&S)"), QStringLiteral("SmtpText"),
                          QStringLiteral("smtp.example.jp:587"));
    m_pop3Text = addField(layout, this, QStringLiteral("Label2"),
                          QStringLiteral("POP3サーバー名(&P)"), QStringLiteral("Pop3Text"),
                          QStringLiteral("pop3s://pop.example.jp"));
    m_mailText = addField(layout, this, QStringLiteral("Label3"),
                          QStringLiteral("メールアドレス(&M)"), QStringLiteral("MailText"),
                          QStringLiteral("taro@example.jp"));
    m_apopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    m_apopCheck->setObjectName(QStringLiteral("ApopCheck"));
    layout->addWidget(m_apopCheck);
    layout->addSpacing(8);
    auto* hint = new QLabel(QStringLiteral("サーバー名や使える接続が分からないときは、"
                                           "設定画面の「接続テスト」で確かめられます。"),
                            this);
    hint->setObjectName(QStringLiteral("HintLabel"));
    hint->setWordWrap(true);
    layout->addWidget(hint);
    layout->addSpacing(8);

    m_okCommand = new QPushButton(QStringLiteral("設定"), this);
    m_okCommand->setObjectName(QStringLiteral("OKCommand"));
    m_cancelCommand = new QPushButton(QStringLiteral("中止"), this);
    m_cancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okCommand);
    buttons->addWidget(m_cancelCommand);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());

    // The address is what most users fill in first; then on down the form.
    setTabOrder(m_mailText, m_apopCheck);
    setTabOrder(m_apopCheck, m_okCommand);
    setTabOrder(m_okCommand, m_cancelCommand);
    setTabOrder(m_cancelCommand, m_smtpText);
    setTabOrder(m_smtpText, m_pop3Text);

    connect(m_okCommand, &QPushButton::clicked, this, &OptionForm::OKCommand_Click);
    connect(m_cancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);
}

void OptionForm::Form_Load()
{
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    show();
    const storage::ServerSettings& server = m_app.state().server;
    m_smtpText->setText(server.SmtpServer);
    m_pop3Text->setText(server.Pop3Server);
    m_mailText->setText(server.MailAddress);
    m_apopCheck->setChecked(server.ApopFlag != 0);
    m_mailText->setFocus();
}

void OptionForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        m_cancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OptionForm::OKCommand_Click()
{
    storage::ServerSettings& server = m_app.state().server;
    server.SmtpServer = m_smtpText->text();
    server.Pop3Server = m_pop3Text->text();
    server.MailAddress = m_mailText->text();
    server.ApopFlag = m_apopCheck->isChecked() ? 1 : 0;
    const common::Status written = storage::WriteServerSettings(
        m_app.appDir().path(common::paths::ServerSettings), server);
    if (!written) {
        // Silently losing the settings would bring this dialog back at every
        // start without a word of why.
        m_app.notify(this, QStringLiteral("サーバー設定を保存できませんでした。\n") +
                               texts::StatusText(written),
                     ui::MsgIcon::Exclamation);
    }
    close();
}

void OptionForm::CancelCommand_Click()
{
    close();
}

} // namespace corvidan::settings
