#include "shell/ReceiveHost.h"

#include "history/TyakuForm.h"
#include "settings/IdPassForm.h"
#include "shell/Application.h"
#include "shell/Launch.h"
#include "shell/MainForm.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace corvidan::shell {

void ReceiveHost::setStatusLine(const QString& text)
{
    m_launcher.setStatusLine(text);
}

void ReceiveHost::setResultLine(const QString& text)
{
    m_launcher.setResultLine(text);
}

void ReceiveHost::showNewMailPicture(const QString&)
{
    m_launcher.showNewMailPicture();
}

void ReceiveHost::setAccount(const QString& id, const QString& password)
{
    // Touching the dialog's boxes loads it hidden, as its boxes must hold the file's values.
    auto* dialog = m_app.forms().get<settings::IdPassForm>();
    dialog->idText()->setText(id);
    dialog->passText()->setText(password);
    m_app.state().PopUserId = id;
    m_app.state().PopPassword = password;
}

void ReceiveHost::requestAccount()
{
    // A dialog the user minimised earlier must come back, or the click seems to do nothing.
    bringUp(m_app.forms().get<settings::IdPassForm>());
}

void ReceiveHost::messageBox(const QString& text, const QString& title)
{
    m_app.ui().messageBox(&m_launcher, text, title.isEmpty() ? UiSeam::applicationTitle() : title,
                          MsgButtons::Ok, MsgIcon::None);
}

void ReceiveHost::showMessage(const transport::ReceivedMessage& message)
{
    auto* viewer = m_app.forms().get<history::TyakuForm>();
    viewer->findChild<QLineEdit*>(QStringLiteral("Text7"))->setText(message.subject);
    viewer->findChild<QLineEdit*>(QStringLiteral("Text8"))->setText(message.from);
    viewer->findChild<QLineEdit*>(QStringLiteral("Text9"))->setText(message.date);
    viewer->setBodyText(message.body);
}

void ReceiveHost::setCurrentRecordNo(std::int16_t recordNo)
{
    m_app.state().CurrentRecordNo = recordNo;
}

void ReceiveHost::setReceivedRecord(const storage::MailRecord& record)
{
    m_app.state().ReceivedRecord = record;
}

void ReceiveHost::progress(int, int)
{
    // Paint the new status text; clicks wait until the receive is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

transport::ReceiveOutcome runReceive(Application& app, MainForm& launcher)
{
    const AppState& state = app.state();
    transport::NMailClient client(app.mail());
    ReceiveHost host(app, launcher);
    return transport::ReceiveMail(app.appDir(), {state.server.Pop3Server, state.server.ApopFlag}, client,
                                  host);
}

} // namespace corvidan::shell
