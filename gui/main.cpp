// glintor-gui: the settings window of Glintor.

#include "glintor-gui.h"
#include "translationloader.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    installGlintorTranslation(translator);
    // Destroyed in reverse order: the window, then the translator, then the application.
    GlintorGUI window;
    return app.exec();
}
