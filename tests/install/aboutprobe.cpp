// glintor-about-probe: opens the settings window's About box as the installed glintor-gui would,
// prints the box's text on standard output and closes it. The install test copies it next to the
// installed glintor-gui, so the box looks for version.txt from the same place.

#include "glintor-gui.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    GlintorGUI window;

    // showAbout runs the box's own event loop; this timer answers it from inside.
    QTimer answer;
    QString text;
    QObject::connect(&answer, &QTimer::timeout, &window, [&text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    answer.start(10);
    QMetaObject::invokeMethod(&window, "showAbout");
    answer.stop();

    if (text.isEmpty())
        return 1;
    QTextStream(stdout) << text << Qt::endl;
    return 0;
}
