#pragma once

#include "ui/Navigator.h"

namespace corvidan::ui {
class Application;
}

namespace corvidan::shell {

/// Loads the compose window hidden at start-up (its load handler runs then).
void prepareComposeWindow(ui::Application& app);
/// Shows the compose window ("新規作成").
void showComposeWindow(ui::Application& app);
/// Opens the history viewer on history `kind`: 1 received, 2 sent.
void openHistory(ui::Application& app, int kind);
/// Shows the address book window.
void showAddressBook(ui::Application& app);

/// The windows' way to each other: the one place that knows every window.
class WindowNavigator final : public ui::Navigator {
public:
    explicit WindowNavigator(ui::Application& app) : m_app(app) {}

    void showCompose() override;
    void insertIntoCompose(const QString& text) override;
    void showPalette() override;
    void openHistory(int kind) override;
    void showAddressBookFor(const QString& address) override;
    void showReply(const QString& subject, const QString& address, const QString& body) override;

private:
    ui::Application& m_app;
};

} // namespace corvidan::shell
