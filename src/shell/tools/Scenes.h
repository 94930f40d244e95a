#pragma once

#include "shell/Application.h"

#include <QByteArray>
#include <QString>
#include <vector>

class QWidget;

namespace corvidan::screenshots {

/// What a scene works with: a fresh application over a temporary AppDir laid
/// out with the delivered files and a "zorbet.ini" naming example servers.
struct SceneContext {
    shell::Application& app;
    QString appDirRoot;

    /// Writes a file below the AppDir (Windows-style relative path).
    void write(QStringView windowsRelative, const QByteArray& bytes) const;
};

/// One picture: `make` opens the window in the state worth showing and returns
/// it; the tool shows it, waits for it to paint and grabs it.
struct Scene {
    const char* name;
    const char* description;
    QWidget* (*make)(SceneContext&);
};

/// Every scene, in the order they are rendered.
const std::vector<Scene>& scenes();

} // namespace corvidan::screenshots
