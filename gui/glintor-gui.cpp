#include "glintor-gui.h"

#include "glintor.h"
#include "glintorsettings.h"
#include "hotkey.h"
#include "hotkeyfield.h"
#include "locatebus.h"
#include "smalllabels.h"
#include "x11support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>

#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int StatusIntervalMs = 5000;
const QString FallbackVersion = QStringLiteral("1.0");
// The service answers a preview at once; a hung one must not leave the click unanswered for long.
constexpr int TryEffectCallTimeoutMs = 1000;

// Why the settings file cannot be written, found by retracing what Qt does: make its folder, write a
// temporary file beside it and put that in its place. Leaves nothing behind; empty if nothing fails.
QString writeFailureReason(const QString &fileName)
{
    const QFileInfo file(fileName);
    for (QFileInfo up(file.absolutePath()); !up.isRoot(); up.setFile(up.absolutePath())) {
        if (up.exists() && !up.isDir())
            return GlintorGUI::tr("“%1”不是文件夹").arg(up.filePath());
    }
    if (file.isDir())
        return GlintorGUI::tr("它是一个文件夹");
    if (!QDir().mkpath(file.absolutePath()))
        return GlintorGUI::tr("无法创建文件夹“%1”").arg(file.absolutePath());
    QByteArray probe = QFile::encodeName(file.absolutePath() + QStringLiteral("/.glintor-probe-XXXXXX"));
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return qt_error_string(errno);
    // A full disk shows only once data is written and flushed.
    const QByteArray block(4096, '\n');
    const ssize_t written = ::write(fd, block.constData(), size_t(block.size()));
    int error = written < 0 ? errno : (written < block.size() ? ENOSPC : 0);
    if (!error && ::fsync(fd) != 0)
        error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    if (error)
        return qt_error_string(error);
    // Qt replaces no file that it may not read and write.
    if (file.exists() && !(file.isReadable() && file.isWritable()))
        return qt_error_string(EACCES);
    return QString();
}

QHBoxLayout *spinWithHint(QSpinBox *spin, const QString &hint)
{
    auto *row = new QHBoxLayout;
    row->addWidget(spin);
    row->addWidget(SmallLabels::hintLabel(hint));
    return row;
}

QSpinBox *spinBox(const char *name, GlintorSettings::IntRange range, int value)
{
    auto *spin = new QSpinBox;
    spin->setObjectName(QLatin1String(name));
    spin->setRange(range.minimum, range.maximum);
    spin->setValue(value);
    return spin;
}

} // namespace

GlintorGUI::GlintorGUI(QWidget *parent)
    : QMainWindow(parent)
{
    setupUI();
    loadSettings();
    checkServiceStatus();

    auto *statusTimer = new QTimer(this);
    statusTimer->setObjectName(QStringLiteral("statusTimer"));
    connect(statusTimer, &QTimer::timeout, this, &GlintorGUI::checkServiceStatus);
    statusTimer->start(StatusIntervalMs);
}

GlintorGUI::~GlintorGUI() = default;

void GlintorGUI::tryEffect()
{
    // A Wayland client can neither find the pointer nor place a window at it: only the service's
    // layer surfaces can.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        askServiceToTryEffect();
        return;
    }
    if (!tryOverlay)
        tryOverlay = std::make_unique<Glintor>(nullptr, Glintor::Logging::Off);
    tryOverlay->tryEffect(QCursor::pos(), animationEffectCombo->currentIndex(), colorModeCombo->currentIndex());
}

void GlintorGUI::askServiceToTryEffect()
{
    // Only a window on Qt's Wayland platform asks: the service of its display is a Wayland client too.
    QDBusMessage call = QDBusMessage::createMethodCall(LocateBus::serviceName(true), QLatin1String(LocateBus::ObjectPath),
        QLatin1String(LocateBus::Interface), QStringLiteral("TryEffect"));
    call << animationEffectCombo->currentIndex() << colorModeCombo->currentIndex();
    // Answered later, never waited for: a missing bus fails at once, a hung service after the timeout.
    auto *watcher
        = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, TryEffectCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (!finished->isError())
            return;
        QMessageBox::information(
            this, tr("信息"), tr("在 Wayland 上，预览由正在运行的 Glintor 服务播放：请先启动服务，再试一次。"));
    });
}

void GlintorGUI::setSystemctlTimeout(int milliseconds)
{
    unit.setSystemctlTimeout(milliseconds);
}

void GlintorGUI::setupUI()
{
    setWindowTitle(tr("Glintor"));
    resize(450, 600);

    auto *centralWidget = new QWidget(this);
    setCentralWidget(centralWidget);
    auto *mainLayout = new QVBoxLayout(centralWidget);

    statusLabel = new QLabel(tr("服务状态: 检查中..."));
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAlignment(Qt::AlignCenter);
    mainLayout->addWidget(statusLabel);

    auto *serviceRow = new QHBoxLayout;
    startButton = new QPushButton(tr("启动服务"));
    startButton->setObjectName(QStringLiteral("startButton"));
    connect(startButton, &QPushButton::clicked, this, &GlintorGUI::startService);
    serviceRow->addWidget(startButton);
    stopButton = new QPushButton(tr("停止服务"));
    stopButton->setObjectName(QStringLiteral("stopButton"));
    connect(stopButton, &QPushButton::clicked, this, &GlintorGUI::stopService);
    serviceRow->addWidget(stopButton);
    restartButton = new QPushButton(tr("重启服务"));
    restartButton->setObjectName(QStringLiteral("restartButton"));
    connect(restartButton, &QPushButton::clicked, this, &GlintorGUI::manualRestartService);
    serviceRow->addWidget(restartButton);
    mainLayout->addLayout(serviceRow);

    auto *settingsGroup = new QGroupBox(tr("设置"));
    settingsGroup->setObjectName(QStringLiteral("settingsGroup"));
    auto *form = new QFormLayout(settingsGroup);

    colorModeCombo = new QComboBox;
    colorModeCombo->setObjectName(QStringLiteral("colorModeCombo"));
    colorModeCombo->addItem(tr("白色"));
    colorModeCombo->addItem(tr("红色"));
    colorModeCombo->addItem(tr("彩虹"));
    form->addRow(tr("圆环颜色:"), colorModeCombo);

    animationEffectCombo = new QComboBox;
    animationEffectCombo->setObjectName(QStringLiteral("animationEffectCombo"));
    animationEffectCombo->addItem(tr("随机效果"));
    animationEffectCombo->addItem(tr("圆环效果"));
    animationEffectCombo->addItem(tr("烟花效果"));
    animationEffectCombo->addItem(tr("彩色星星"));
    auto *tryButton = new QPushButton(tr("试一试"));
    tryButton->setObjectName(QStringLiteral("tryButton"));
    connect(tryButton, &QPushButton::clicked, this, &GlintorGUI::tryEffect);
    auto *effectRow = new QHBoxLayout;
    effectRow->addWidget(animationEffectCombo, 1);
    effectRow->addWidget(tryButton);
    form->addRow(tr("动画效果:"), effectRow);

    enableAnimationCheck = new QCheckBox(tr("启用动画"));
    enableAnimationCheck->setObjectName(QStringLiteral("enableAnimationCheck"));
    form->addRow(enableAnimationCheck);

    enableShakeCheck = new QCheckBox(tr("启用摇晃触发"));
    enableShakeCheck->setObjectName(QStringLiteral("enableShakeCheck"));
    enableShakeCheck->setChecked(true);
    form->addRow(enableShakeCheck);

    using namespace GlintorSettings;
    shakeDistanceSpin = spinBox("shakeDistanceSpin", Range::ShakeDistance, Default::ShakeDistance);
    form->addRow(tr("摇晃距离 (px):"), spinWithHint(shakeDistanceSpin, tr("(范围: 10-1000 px)")));
    shakeWindowMsSpin = spinBox("shakeWindowMsSpin", Range::ShakeWindowMs, Default::ShakeWindowMs);
    form->addRow(tr("摇晃窗口 (ms):"), spinWithHint(shakeWindowMsSpin, tr("(范围: 100-5000 ms)")));
    shakeAlternationsSpin = spinBox("shakeAlternationsSpin", Range::ShakeAlternations, Default::ShakeAlternations);
    form->addRow(tr("所需交替次数:"), spinWithHint(shakeAlternationsSpin, tr("(范围: 1-10 次)")));

    hotkeyField = new HotkeyField(this);
    form->addRow(tr("快捷键:"), hotkeyField->row());
    form->addRow(hotkeyField->hint());
    hotkeyField->showHotkey(HotkeyField::defaultHotkey());

    enableCtrlTapCheck = new QCheckBox(tr("单击 Ctrl 键显示指针位置"));
    enableCtrlTapCheck->setObjectName(QStringLiteral("enableCtrlTapCheck"));
    form->addRow(enableCtrlTapCheck);

    mainLayout->addWidget(settingsGroup);

    auto *settingsRow = new QHBoxLayout;
    auto *saveButton = new QPushButton(tr("保存设置"));
    saveButton->setObjectName(QStringLiteral("saveButton"));
    connect(saveButton, &QPushButton::clicked, this, &GlintorGUI::saveSettings);
    settingsRow->addWidget(saveButton);
    auto *restoreDefaultsButton = new QPushButton(tr("恢复默认配置"));
    restoreDefaultsButton->setObjectName(QStringLiteral("restoreDefaultsButton"));
    connect(restoreDefaultsButton, &QPushButton::clicked, this, &GlintorGUI::restoreDefaultSettings);
    settingsRow->addWidget(restoreDefaultsButton);
    mainLayout->addLayout(settingsRow);

    auto *aboutButton = new QPushButton(tr("关于"));
    aboutButton->setObjectName(QStringLiteral("aboutButton"));
    connect(aboutButton, &QPushButton::clicked, this, &GlintorGUI::showAbout);
    mainLayout->addWidget(aboutButton);

    desktopNotes.show(form, mainLayout, statusLabel, enableShakeCheck, enableCtrlTapCheck);
    show();
}

void GlintorGUI::startService()
{
    if (unit.start()) {
        QMessageBox::information(this, tr("成功"), tr("Glintor服务已成功启动。"));
        checkServiceStatus();
    } else {
        QMessageBox::warning(this, tr("错误"), tr("无法启动Glintor服务。"));
    }
}

void GlintorGUI::stopService()
{
    if (unit.stop()) {
        QMessageBox::information(this, tr("成功"), tr("Glintor服务已成功停止。"));
        checkServiceStatus();
    } else {
        QMessageBox::warning(this, tr("错误"), tr("无法停止Glintor服务。"));
    }
}

bool GlintorGUI::doRestartService()
{
    const bool started = unit.restart();
    if (started) {
        QMessageBox::information(this, tr("成功"), tr("Glintor服务已成功重启。"));
    } else {
        QMessageBox::information(this, tr("信息"), tr("已尝试重启Glintor服务。如果服务未运行，请手动启动。"));
    }
    checkServiceStatus();
    return started;
}

void GlintorGUI::checkServiceStatus()
{
    desktopNotes.showExtensionState();
    const bool running = unit.isActive();
    startButton->setEnabled(!running);
    stopButton->setEnabled(running);
    if (running) {
        statusLabel->setText(tr("服务状态: 运行中"));
        statusLabel->setStyleSheet(QStringLiteral("QLabel { color : green; }"));
    } else {
        statusLabel->setText(tr("服务状态: 已停止"));
        statusLabel->setStyleSheet(QStringLiteral("QLabel { color : red; }"));
    }
}

void GlintorGUI::saveSettings()
{
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    const std::optional<Hotkey::Combination> hotkeyBefore = Hotkey::fromSetting(settings.value(Key::Hotkey));
    settings.setValue(Key::ColorMode, colorModeCombo->currentIndex());
    settings.setValue(Key::EnableShake, enableShakeCheck->isChecked());
    settings.setValue(Key::ShakeDistance, shakeDistanceSpin->value());
    settings.setValue(Key::ShakeWindowMs, shakeWindowMsSpin->value());
    settings.setValue(Key::ShakeAlternations, shakeAlternationsSpin->value());
    settings.setValue(Key::EnableAnimation, enableAnimationCheck->isChecked());
    settings.setValue(Key::AnimationEffect, animationEffectCombo->currentIndex());
    settings.setValue(Key::Hotkey, hotkeyField->keySequence().toString(QKeySequence::PortableText));
    settings.setValue(Key::EnableCtrlTap, enableCtrlTapCheck->isChecked());
    // The restarted service reads the file as it starts: with the values not on disk it would only
    // read the old ones again.
    if (!writeOrReport(settings, tr("设置未保存。")))
        return;
    // A passive grab belongs to one client only: say so when another program holds the new choice.
    const std::optional<Hotkey::Combination> hotkey
        = Hotkey::fromText(hotkeyField->keySequence().toString(QKeySequence::PortableText));
    if (hotkey && (!hotkeyBefore || hotkey->text != hotkeyBefore->text)
        && QGuiApplication::platformName() == QLatin1String("xcb")
        && X11Support::keyGrabbedElsewhere(hotkey->keysym, hotkey->modifiers)) {
        QMessageBox::information(this, tr("信息"),
            tr("快捷键 %1 已被其他程序占用。设置已保存，但在那个程序放开它之前，这个快捷键不会起作用。")
                .arg(hotkeyField->keySequence().toString(QKeySequence::NativeText)));
    }
    doRestartService();
}

bool GlintorGUI::writeOrReport(QSettings &settings, const QString &failure)
{
    settings.sync();
    QString reason;
    if (settings.status() == QSettings::AccessError) {
        reason = writeFailureReason(settings.fileName());
        if (reason.isEmpty())
            reason = tr("原因不明");
    } else if (settings.status() == QSettings::FormatError) {
        // Qt keeps the first error of an object: that the file it read was damaged hides whether the
        // write went through, so look.
        reason = writeFailureReason(settings.fileName());
    }
    if (reason.isEmpty())
        return true;
    QMessageBox::warning(this, tr("错误"),
        tr("%1\n\n无法写入设置文件“%2”：%3。\n\n该文件保持原样，服务未重启。")
            .arg(failure, settings.fileName(), reason));
    return false;
}

void GlintorGUI::loadSettings()
{
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    colorModeCombo->setCurrentIndex(settings.value(Key::ColorMode, Default::ColorMode).toInt());
    enableAnimationCheck->setChecked(settings.value(Key::EnableAnimation, Default::EnableAnimation).toBool());
    enableShakeCheck->setChecked(settings.value(Key::EnableShake, Default::EnableShake).toBool());
    shakeDistanceSpin->setValue(settings.value(Key::ShakeDistance, Default::ShakeDistance).toInt());
    shakeWindowMsSpin->setValue(settings.value(Key::ShakeWindowMs, Default::ShakeWindowMs).toInt());
    shakeAlternationsSpin->setValue(settings.value(Key::ShakeAlternations, Default::ShakeAlternations).toInt());
    animationEffectCombo->setCurrentIndex(settings.value(Key::AnimationEffect, Default::AnimationEffect).toInt());
    hotkeyField->showStored(settings.value(Key::Hotkey));
    enableCtrlTapCheck->setChecked(settings.value(Key::EnableCtrlTap, Default::EnableCtrlTap).toBool());
}

void GlintorGUI::restoreDefaultSettings()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("确认恢复默认配置"), tr("您确定要恢复所有设置为默认值吗？\n\n此操作将清除所有自定义设置并重启服务。"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    // Not cleared on disk, the old values stay in force: the window goes on showing what it showed.
    if (!writeOrReport(settings, tr("未能恢复默认配置。")))
        return;
    loadSettings();
    if (doRestartService())
        QMessageBox::information(this, tr("成功"), tr("已恢复默认配置并重启服务。"));
}

QString GlintorGUI::readVersionFromFile()
{
    QFile file(QStringLiteral("version.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        file.setFileName(QCoreApplication::applicationDirPath() + QStringLiteral("/version.txt"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return FallbackVersion;
    }
    QTextStream stream(&file);
    const QString version = stream.readLine().trimmed();
    file.close();
    return version.isEmpty() ? FallbackVersion : version;
}

void GlintorGUI::showAbout()
{
    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QStringList places = { QStringLiteral("version.txt"),
                                 QStringLiteral("../version.txt"),
                                 QStringLiteral("/usr/share/glintor/version.txt"),
                                 QStringLiteral("/usr/local/share/glintor/version.txt"),
                                 applicationDir + QStringLiteral("/version.txt"),
                                 applicationDir + QStringLiteral("/../share/glintor/version.txt") };
    QString version = FallbackVersion;
    for (const QString &place : places) {
        QFile file(place);
        if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        QTextStream stream(&file);
        // Shown exactly as written, surrounding spaces and all.
        version = stream.readLine();
        file.close();
        break;
    }
    QMessageBox::about(this, tr("关于Glintor"),
                       tr("Glintor - 在按下快捷键时在鼠标位置显示动画圆环\n\n版本 %1").arg(version));
}
