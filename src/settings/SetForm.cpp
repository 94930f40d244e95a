#include "settings/SetForm.h"

#include "settings/CheckForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "ui/Application.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace corvidan::settings {

SetForm::SetForm(ui::Application& app, QWidget* parent) : QWidget(parent, Qt::Window), m_app(app)
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("設定"));

    auto* command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    command1->setObjectName(QStringLiteral("Command1"));
    auto* command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    command2->setObjectName(QStringLiteral("Command2"));
    auto* command3 = new QPushButton(QStringLiteral("接続テスト"), this);
    command3->setObjectName(QStringLiteral("Command3"));
    for (QPushButton* button : {command1, command2, command3})
        button->setMinimumSize(120, 36);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(command1);
    layout->addWidget(command2);
    layout->addWidget(command3);
    setFixedSize(sizeHint());

    connect(command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
    connect(command3, &QPushButton::clicked, this, &SetForm::Command3_Click);
}

void SetForm::Command1_Click()
{
    ui::bringUp(m_app.forms().get<IdPassForm>());
}

void SetForm::Command2_Click()
{
    ui::bringUp(m_app.forms().get<OptionForm>());
}

void SetForm::Command3_Click()
{
    // A check already shown is run again: the settings may have changed since.
    if (CheckForm* shown = m_app.forms().find<CheckForm>())
        shown->close();
    ui::bringUp(m_app.forms().get<CheckForm>());
}

} // namespace corvidan::settings
