#include "settings/CheckForm.h"

#include "ui/Application.h"
#include "storage/ProfileFile.h"
#include "texts/CheckReportText.h"
#include "texts/ErrorText.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <future>

namespace corvidan::settings {

CheckForm::CheckForm(ui::Application& app, QWidget* parent) : QWidget(parent, Qt::Window), m_app(app)
{
    setObjectName(QStringLiteral("CheckForm"));
    setWindowTitle(QStringLiteral("接続テスト"));
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("StatusLabel"));
    m_reportText = new QPlainTextEdit(this);
    m_reportText->setObjectName(QStringLiteral("ReportText"));
    m_reportText->setReadOnly(true);
    m_useCommand = new QPushButton(QStringLiteral("この設定を使う(&U)"), this);
    m_useCommand->setObjectName(QStringLiteral("UseCommand"));
    m_useCommand->setEnabled(false);
    m_closeCommand = new QPushButton(QStringLiteral("閉じる"), this);
    m_closeCommand->setObjectName(QStringLiteral("CloseCommand"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_useCommand);
    buttons->addWidget(m_closeCommand);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_reportText);
    layout->addLayout(buttons);
    resize(640, 420);

    connect(m_useCommand, &QPushButton::clicked, this, &CheckForm::UseCommand_Click);
    connect(m_closeCommand, &QPushButton::clicked, this, &QWidget::close);
}

transport::CheckRequest CheckForm::request() const
{
    const storage::ServerSettings& server = m_app.state().server;
    transport::CheckRequest request;
    request.pop3Server = server.Pop3Server;
    request.smtpServer = server.SmtpServer;
    request.apop = server.ApopFlag != 0;
    request.user = storage::ReadAccountValue(m_app.appDir(), QStringLiteral("NAME"));
    request.password = storage::ReadAccountValue(m_app.appDir(), QStringLiteral("NAME2"));
    request.options = m_app.mail().options();
    request.options.serveEventsWhileWaiting = false;
    request.ports = request.options.checkPorts;
    return request;
}

void CheckForm::Form_Load()
{
    show();
    m_statusLabel->setText(QStringLiteral("接続を確認しています。しばらくお待ち下さい。"));
    // The probes block; they run beside the window thread, which keeps painting.
    std::future<transport::CheckReport> running =
        std::async(std::launch::async, transport::RunConnectionCheck, request());
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (running.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            loop.quit();
    });
    poll.start(30);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_report = running.get();
    m_reportText->setPlainText(texts::CheckReportText(m_report));
    const bool found = !m_report.pop3Line.isEmpty() || !m_report.smtpLine.isEmpty();
    m_useCommand->setEnabled(found);
    m_statusLabel->setText(found ? QStringLiteral("「この設定を使う」で、下の行をサーバー設定に書き込みます。")
                                 : QStringLiteral("使える接続方法が見つかりませんでした。"));
}

void CheckForm::UseCommand_Click()
{
    storage::ServerSettings& server = m_app.state().server;
    if (!m_report.pop3Line.isEmpty())
        server.Pop3Server = m_report.pop3Line;
    if (!m_report.smtpLine.isEmpty())
        server.SmtpServer = m_report.smtpLine;
    const common::Status written =
        storage::WriteServerSettings(m_app.appDir().path(common::paths::ServerSettings), server);
    if (!written) {
        m_app.notify(this, QStringLiteral("サーバー設定を保存できませんでした。\n") + texts::StatusText(written),
                     ui::MsgIcon::Exclamation);
        return;
    }
    m_statusLabel->setText(QStringLiteral("サーバー設定に書き込みました。"));
    m_useCommand->setEnabled(false);
}

} // namespace corvidan::settings
