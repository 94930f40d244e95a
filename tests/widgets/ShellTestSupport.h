#pragma once

#include "shell/Application.h"
#include "shell/MainForm.h"
#include "support/ScriptedUi.h"
#include "support/TempAppDir.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace corvidan::test {

/// A started launcher over a temporary AppDir: the program's own start-up
/// sequence, with message boxes answered by the script.
class LauncherTest : public ::testing::Test {
protected:
    /// Writes "zorbet.ini" (when given), then creates and loads the launcher.
    void start(std::optional<QByteArray> serverSettings = std::nullopt)
    {
        if (serverSettings)
            dir.write(common::paths::ServerSettings, *serverSettings);
        app = std::make_unique<shell::Application>(dir.appDir(), ui);
        launcher = app->forms().get<shell::MainForm>();
        launcher->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(launcher));
    }

    /// A fresh process over the same AppDir: what the next start reads.
    void restart(std::optional<QByteArray> serverSettings = std::nullopt)
    {
        app.reset();
        start(std::move(serverSettings));
    }

    /// Lets windows closed with deleteLater go, as the event loop would.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    /// A mouse move onto the middle of a control, delivered the way the window
    /// system does: to the control on top at that point, and only when it
    /// tracks the mouse.
    static void hover(QWidget* control)
    {
        moveInWindow(control->window(), control->mapTo(control->window(), control->rect().center()));
    }
    static void moveInWindow(QWidget* window, QPoint at)
    {
        QTest::mouseMove(window->windowHandle(), at);
    }

    void TearDown() override { app.reset(); }

    TempAppDir dir;
    ScriptedUi ui;
    std::unique_ptr<shell::Application> app;
    shell::MainForm* launcher = nullptr;
};

} // namespace corvidan::test
