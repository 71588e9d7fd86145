#include "guitest.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

PrivateConfigHome::PrivateConfigHome()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
}

MessageBoxAnswerer::MessageBoxAnswerer(const QList<QMessageBox::StandardButton> &answers)
    : pending(answers)
{
    connect(&timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    timer.start(10);
}

void MessageBoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == answered)
        return;
    answered = box;
    boxes << ShownBox { box->windowTitle(), box->text(), box->icon() };
    if (onBox)
        onBox(box);
    QMessageBox::StandardButton answer = pending.isEmpty() ? QMessageBox::Ok : pending.takeFirst();
    if (answer != QMessageBox::NoButton && box->button(answer))
        box->button(answer)->click();
    else
        QTest::keyClick(box, Qt::Key_Escape);
}

QString settingsFilePath()
{
    // Found once: a settings object made later would also write what this process has not yet written.
    static const QString path = QSettings(QStringLiteral("Glintor"), QStringLiteral("Settings")).fileName();
    return path;
}

QMap<QString, QString> settingsKeysIn(const QByteArray &fileContent)
{
    QMap<QString, QString> keys;
    const QList<QByteArray> lines = fileContent.split('\n');
    for (const QByteArray &line : lines) {
        const int equals = line.indexOf('=');
        if (line.startsWith('[') || equals < 0)
            continue;
        keys.insert(QString::fromUtf8(line.left(equals).trimmed()), QString::fromUtf8(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

QByteArray settingsFileContent()
{
    QFile file(settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QString> settingsOnDisk()
{
    return settingsKeysIn(settingsFileContent());
}

void replaceSettings(const QMap<QString, QVariant> &values)
{
    QSettings settings(QStringLiteral("Glintor"), QStringLiteral("Settings"));
    settings.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

void removeSettingsFile()
{
    // Also what a test put in the file's way: a plain file for its folder, a folder for it, a locked folder.
    const QString folder = QFileInfo(settingsFilePath()).path();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::remove(folder);
    QDir(settingsFilePath()).removeRecursively();
    replaceSettings({});
    QFile::remove(settingsFilePath());
}
