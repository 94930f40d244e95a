#pragma once

#include "ui/Application.h"

#include <memory>

namespace corvidan::shell {

/// The composition root: the kit's application with the navigator that knows
/// every window. main() and the tests build this one.
class Application : public ui::Application {
public:
    Application(common::AppDir appDir, ui::UiSeam& ui);
    ~Application();

private:
    std::unique_ptr<ui::Navigator> m_windows;
};

} // namespace corvidan::shell
