#include "settings/IdPassForm.h"

#include "storage/ProfileFile.h"
#include "ui/Application.h"
#include "texts/ErrorText.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace corvidan::settings {

namespace {

QLabel* addLabel(QWidget* form, const QString& name, const QString& caption)
{
    auto* label = new QLabel(caption, form);
    label->setObjectName(name);
    return label;
}

QLineEdit* addEdit(QWidget* form, const QString& name)
{
    auto* edit = new QLineEdit(form);
    edit->setObjectName(name);
    edit->setMinimumWidth(200);
    return edit;
}

} // namespace

IdPassForm::IdPassForm(ui::Application& app, QWidget* parent)
    : QWidget(parent, Qt::Window), m_app(app)
{
    setObjectName(QStringLiteral("IdPassForm"));
    setWindowTitle(QStringLiteral("ＩＤ，ＰＡＳＳ"));

    QLabel* label1 = addLabel(this, QStringLiteral("Label1"), QStringLiteral("ID"));
    m_idText = addEdit(this, QStringLiteral("IdText"));
    QLabel* label2 = addLabel(this, QStringLiteral("Label2"), QStringLiteral("Password"));
    m_passText = addEdit(this, QStringLiteral("PassText"));
    m_passText->setEchoMode(QLineEdit::Password);
    m_passText->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    // A password is typed in plain letters; a Japanese input method would only
    // turn them into something the server never sees.
    m_passText->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoPredictiveText |
                                    Qt::ImhSensitiveData);
    m_passText->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_check1 = new QCheckBox(QStringLiteral("IDパスワードを保存する"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));

    m_okCommand = new QPushButton(QStringLiteral("OK"), this);
    m_okCommand->setObjectName(QStringLiteral("OKCommand"));
    m_cancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelCommand->setObjectName(QStringLiteral("CancelCommand"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(label1, 0, 0);
    grid->addWidget(m_idText, 0, 1);
    grid->addWidget(label2, 1, 0);
    grid->addWidget(m_passText, 1, 1);
    grid->addWidget(m_check1, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okCommand);
    buttons->addWidget(m_cancelCommand);
    grid->addLayout(buttons, 3, 0, 1, 2);
    setFixedSize(sizeHint());

    connect(m_okCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(m_cancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);
}

void IdPassForm::Form_Load()
{
    m_idText->setText(storage::ReadAccountValue(m_app.appDir(), QStringLiteral("NAME")));
    m_passText->setText(storage::ReadAccountValue(m_app.appDir(), QStringLiteral("NAME2")));
}

void IdPassForm::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() != Qt::NoModifier && event->modifiers() != Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        m_cancelCommand->click();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter on a focused button presses that button, anywhere else OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            m_okCommand->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void IdPassForm::OKCommand_Click()
{
    m_app.state().PopUserId = m_idText->text();
    m_app.state().PopPassword = m_passText->text();
    const common::AppDir& dir = m_app.appDir();
    common::Status written;
    if (m_check1->isChecked()) {
        written = storage::WriteAccountValue(dir, QStringLiteral("NAME"), m_idText->text());
        if (written)
            written = storage::WriteAccountValue(dir, QStringLiteral("NAME2"), m_passText->text());
        if (written)
            written = storage::WriteAccountValue(dir, QStringLiteral("NAME3"), QStringLiteral("1"));
    } else {
        // Nothing reads this mark back, so a failure to write it costs nothing.
        (void)storage::WriteAccountValue(dir, QStringLiteral("NAME3"), QStringLiteral("0"));
    }
    if (!written) {
        // The user asked for the account to be kept; not keeping it unseen
        // would surface only as a login prompt at the next receive.
        m_app.notify(this, QStringLiteral("ID・パスワードを保存できませんでした。\n") +
                               texts::StatusText(written),
                     ui::MsgIcon::Exclamation);
    }
    close();
}

void IdPassForm::CancelCommand_Click()
{
    close();
}

} // namespace corvidan::settings
