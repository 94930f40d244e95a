#include "common/AppDir.h"
#include "shell/Application.h"
#include "shell/MainForm.h"
#include "storage/Originals.h"
#include "ui/Fonts.h"
#include "ui/UiSeam.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

using namespace corvidan;

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    ui::installJapaneseFonts();
    // The file, print and message dialogs Qt provides speak the windows' language,
    // whatever the desktop's locale.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // Closing the launcher ends the program even while a dialog stays open.
    QApplication::setQuitOnLastWindowClosed(false);

    const common::AppDir appDir = common::AppDir::ofExecutable();
    // Originals a killed process left without their records; cheap when none did.
    (void)storage::CollectOrphanedOriginals(appDir);
    ui::QtUiSeam ui;
    shell::Application app(appDir, ui);
    ui::bringUp(app.forms().get<shell::MainForm>());
    return QApplication::exec();
}
