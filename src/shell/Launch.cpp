#include "shell/Launch.h"

#include "history/TyakuForm.h"
#include "shell/Application.h"

#include <QWidget>

namespace corvidan::shell {

// The compose, history and address book windows are wired in here as they land.

void prepareComposeWindow(Application&) {}

void showComposeWindow(Application&) {}

void openHistory(Application& app, int kind)
{
    app.forms().get<history::TyakuForm>()->OpenHistory(kind);
}

void showAddressBook(Application&) {}

void bringUp(QWidget* window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace corvidan::shell
