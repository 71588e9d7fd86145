// glintor-gui: the settings window of Glintor.

#include "displaycheck.h"
#include "glintor-gui.h"
#include "translationloader.h"

#include <QApplication>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Without a display Qt would abort with a core dump; say what is wrong instead.
    const std::string displayProblem = DisplayCheck::problem(argc, argv);
    if (!displayProblem.empty()) {
        std::fputs(displayProblem.c_str(), stderr);
        return 1;
    }

    QApplication app(argc, argv);
    DisplayCheck::forgetPlatformChoice();
    QTranslator translator;
    installGlintorTranslation(translator);
    // Destroyed in reverse order: the window, then the translator, then the application.
    GlintorGUI window;
    return app.exec();
}
