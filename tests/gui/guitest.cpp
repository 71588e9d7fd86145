#include "guitest.h"

#include <QAbstractButton>
#include <QFile>
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
    return QSettings(QStringLiteral("Glintor"), QStringLiteral("Settings")).fileName();
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

QMap<QString, QString> settingsOnDisk()
{
    QFile file(settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? settingsKeysIn(file.readAll()) : QMap<QString, QString>();
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
    replaceSettings({});
    QFile::remove(settingsFilePath());
}
