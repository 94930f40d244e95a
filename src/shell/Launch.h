#pragma once

class QWidget;

namespace corvidan::shell {

class Application;

// The launcher reaches the windows of the other folders only through these
// functions, so each window's folder decides how it is opened.

/// Loads the compose window hidden at start-up (its load handler runs then).
void prepareComposeWindow(Application& app);
/// Shows the compose window ("新規作成").
void showComposeWindow(Application& app);
/// Opens the history viewer on history `kind`: 1 received, 2 sent.
void openHistory(Application& app, int kind);
/// Shows the address book window.
void showAddressBook(Application& app);

/// Shows a modeless window, or brings an already shown one to the front.
void bringUp(QWidget* window);

} // namespace corvidan::shell
