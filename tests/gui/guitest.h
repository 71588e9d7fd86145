#pragma once

#include <QApplication>
#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <functional>

// Gives the test process a configuration folder of its own. Qt fixes its settings paths at the first
// QSettings, so this must be set up before the application object exists.
class PrivateConfigHome
{
public:
    PrivateConfigHome();
    QString path() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

// What one message box showed.
struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the modal message boxes that a slot opens, in order, and records what each one showed.
// QMessageBox::NoButton in the list stands for pressing Escape; boxes beyond the list get Ok,
// or Escape when they have no Ok button, so that a test never hangs on a box.
class MessageBoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxAnswerer(const QList<QMessageBox::StandardButton> &answers = {});

    // Called with each box before it is answered, e.g. to look at the window behind it.
    std::function<void(QMessageBox *)> onBox;
    QList<ShownBox> boxes;

private:
    void poll();

    QTimer timer;
    QPointer<QMessageBox> answered;
    QList<QMessageBox::StandardButton> pending;
};

// The user's settings file, read straight from the disk, as key => value text of its [General] section.
QString settingsFilePath();
QByteArray settingsFileContent(); // empty when there is no file to read
QMap<QString, QString> settingsOnDisk();
QMap<QString, QString> settingsKeysIn(const QByteArray &fileContent);
// Replaces the whole settings file with these keys (written through QSettings, as the programs would).
void replaceSettings(const QMap<QString, QVariant> &values);
// Removes the file, anything in its way, and the changes to it that this process still holds.
void removeSettingsFile();

// A named child widget of the window; fails the test when there is none.
template<typename T>
T *namedChild(QObject *window, const char *name)
{
    T *child = window->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

#define GLINTOR_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        PrivateConfigHome configHome;                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
