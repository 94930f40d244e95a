#include "shell/ReceiveHost.h"

#include "history/TyakuForm.h"
#include "settings/IdPassForm.h"
#include "shell/Launch.h"
#include "shell/MainForm.h"
#include "texts/ErrorText.h"
#include "ui/Application.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace corvidan::shell {

using namespace ui;

ReceiveHost::ReceiveHost(ui::Application& app, MainForm& launcher) : m_app(app), m_launcher(launcher)
{
    qApp->installEventFilter(this);
    m_launcher.setReceiving(true);
}

ReceiveHost::~ReceiveHost()
{
    qApp->removeEventFilter(this);
    m_launcher.setReceiving(false);
}

bool ReceiveHost::cancelRequested()
{
    // Input waits in the queue while the server is awaited; only here does it get through.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_cancelRequested;
}

bool ReceiveHost::eventFilter(QObject* watched, QEvent* event)
{
    // A box the receive shows must be answerable, or the receive would wait for ever.
    if (QWidget* modal = QApplication::activeModalWidget();
        modal && watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == modal)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            m_cancelRequested = true;
        return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        // A click elsewhere could start a second receive or change what is being stored.
        return watched != m_launcher.receiveCancelButton();
    case QEvent::Close:
        if (watched == &m_launcher) {
            m_cancelRequested = true;
            m_closeRequested = true;
        }
        event->ignore();
        return watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow();
    default:
        return false;
    }
}

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

void ReceiveHost::notify(const transport::ReceiveNotice& notice)
{
    const QString title = texts::ReceiveNoticeTitle(notice);
    m_app.ui().messageBox(&m_launcher, texts::ReceiveNoticeText(notice),
                          title.isEmpty() ? UiSeam::applicationTitle() : title, MsgButtons::Ok, MsgIcon::None);
}

void ReceiveHost::showMessage(const transport::ReceivedMessage& message)
{
    auto* viewer = m_app.forms().get<history::TyakuForm>();
    viewer->setHeaderBoxes(message.subject, message.from, message.date);
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
    // Paint the new status text; input other than a cancel is held back by the filter.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

ReceiveRun runReceive(ui::Application& app, MainForm& launcher)
{
    const AppState& state = app.state();
    transport::NMailMailbox client(app.mail());
    ReceiveHost host(app, launcher);
    QObject::connect(launcher.receiveCancelButton(), &QPushButton::clicked, &host,
                     [&host] { host.requestCancel(); });
    transport::NMailOptions& options = app.mail().options();
    const std::function<bool()> previous = options.cancelled;
    options.cancelled = [&host] { return host.cancelRequested(); };
    options.maxMessageBytes = transport::ReadMaxMessageBytes(app.appDir(), transport::NMailOptions{}.maxMessageBytes);
    ReceiveRun run;
    run.outcome = transport::ReceiveMail(app.appDir(), {state.server.Pop3Server, state.server.ApopFlag}, client, host);
    options.cancelled = previous;
    // Even a failed or cancelled run may have stored some messages.
    if (auto* viewer = app.forms().find<history::TyakuForm>())
        viewer->historyAppended(1);
    run.closeRequested = host.closeRequested();
    return run;
}

} // namespace corvidan::shell
