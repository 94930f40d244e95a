#include "shell/Launch.h"

#include "addressbook/FriendForm.h"
#include "compose/WriteForm.h"
#include "history/TyakuForm.h"
#include "shell/Application.h"

#include <QCheckBox>
#include <QWidget>

namespace corvidan::shell {

// The compose, history and address book windows are wired in here as they land.

void prepareComposeWindow(Application& app)
{
    // Touching the fortune switch creates and loads the window, still hidden.
    auto* form = app.forms().get<compose::WriteForm>();
    if (auto* fortune = form->findChild<QCheckBox*>(QStringLiteral("Check1")))
        fortune->setChecked(false);
}

void showComposeWindow(Application& app)
{
    bringUp(app.forms().get<compose::WriteForm>());
}

void openHistory(Application& app, int kind)
{
    app.forms().get<history::TyakuForm>()->OpenHistory(kind);
}

void showAddressBook(Application& app)
{
    bringUp(app.forms().get<addressbook::FriendForm>());
}

void bringUp(QWidget* window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace corvidan::shell
