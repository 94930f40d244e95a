#pragma once

#include "storage/ProfileFile.h"
#include "texts/NetErrorText.h"
#include "transport/NMail.h"
#include "ui/AppState.h"
#include "ui/FormRegistry.h"
#include "ui/Navigator.h"
#include "ui/UiSeam.h"

namespace corvidan::ui {

/// What every window is given: the shared values, the mail library, the dialog
/// seam, the window registry and the way to the other windows. The composition
/// (shell::Application) supplies the navigator.
class Application {
public:
    Application(common::AppDir appDir, UiSeam& ui)
        : m_state(std::move(appDir)), m_ui(ui), m_forms(*this)
    {
        m_mail.options().serveEventsWhileWaiting = true;
        m_mail.options().useDataFolder(m_state.appDir);
        m_mail.options().describeError = texts::NetErrorText;
    }
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    AppState& state() { return m_state; }
    const common::AppDir& appDir() const { return m_state.appDir; }
    UiSeam& ui() { return m_ui; }
    transport::NMail& mail() { return m_mail; }
    FormRegistry& forms() { return m_forms; }
    Navigator& navigator()
    {
        Q_ASSERT(m_navigator);
        return *m_navigator;
    }
    void setNavigator(Navigator& navigator) { m_navigator = &navigator; }

    /// A server that wants a login for sending gets the POP account; before any
    /// receive or account dialog filled it, it comes from the account file.
    void prepareSmtpAccount()
    {
        QString user = m_state.PopUserId;
        QString password = m_state.PopPassword;
        if (user.isEmpty() || password.isEmpty()) {
            user = storage::ReadAccountValue(m_state.appDir, QStringLiteral("NAME"));
            password = storage::ReadAccountValue(m_state.appDir, QStringLiteral("NAME2"));
        }
        m_mail.setSmtpAccount(user, password);
    }

    /// Plain notice with the application's title, as most messages are.
    MsgAnswer notify(QWidget* parent, const QString& text, MsgIcon icon = MsgIcon::None)
    {
        return m_ui.messageBox(parent, text, UiSeam::applicationTitle(), MsgButtons::Ok, icon);
    }

private:
    AppState m_state;
    UiSeam& m_ui;
    Navigator* m_navigator = nullptr;
    transport::NMail m_mail;
    FormRegistry m_forms; // last: windows go before the state they use
};

} // namespace corvidan::ui
