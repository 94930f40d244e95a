#include "shell/Launch.h"

#include "addressbook/FriendForm.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "history/TyakuForm.h"
#include "shell/Application.h"
#include "ui/Widgets.h"

namespace corvidan::shell {

void prepareComposeWindow(ui::Application& app)
{
    // Touching the fortune switch creates and loads the window, still hidden.
    app.forms().get<compose::WriteForm>()->setFortuneChecked(false);
}

void showComposeWindow(ui::Application& app)
{
    ui::bringUp(app.forms().get<compose::WriteForm>());
}

void openHistory(ui::Application& app, int kind)
{
    app.forms().get<history::TyakuForm>()->OpenHistory(kind);
}

void showAddressBook(ui::Application& app)
{
    ui::bringUp(app.forms().get<addressbook::FriendForm>());
}

void WindowNavigator::showCompose()
{
    showComposeWindow(m_app);
}

void WindowNavigator::insertIntoCompose(const QString& text)
{
    m_app.forms().get<compose::WriteForm>()->insertText(text);
}

void WindowNavigator::showPalette()
{
    auto* palette = m_app.forms().get<emoticons::KaoForm>();
    palette->show();
    palette->raise();
    palette->activateWindow();
}

void WindowNavigator::openHistory(int kind)
{
    shell::openHistory(m_app, kind);
}

void WindowNavigator::showAddressBookFor(const QString& address)
{
    auto* book = m_app.forms().get<addressbook::FriendForm>();
    book->setAddressText(address);
    ui::bringUp(book);
}

void WindowNavigator::showReply(const QString& subject, const QString& address, const QString& body)
{
    auto* reply = m_app.forms().get<compose::BackForm>();
    reply->FillReply(subject, address, body);
    ui::bringUp(reply);
}

Application::Application(common::AppDir appDir, ui::UiSeam& ui)
    : ui::Application(std::move(appDir), ui), m_windows(std::make_unique<WindowNavigator>(*this))
{
    setNavigator(*m_windows);
}

Application::~Application()
{
    // The windows go while the navigator they were given still exists.
    forms().discardAll();
}

} // namespace corvidan::shell
