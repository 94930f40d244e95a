#include "shell/Launch.h"

#include "shell/Application.h"

#include <QWidget>

namespace corvidan::shell {

// The compose, history and address book windows are wired in here as they land.

void prepareComposeWindow(Application&) {}

void showComposeWindow(Application&) {}

void openHistory(Application&, int) {}

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
