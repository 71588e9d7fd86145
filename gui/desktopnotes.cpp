// DesktopNotes: the notes' texts, and where each desktop has them in the window.

#include "desktopnotes.h"

#include "displaycheck.h"
#include "shellextension.h"
#include "smalllabels.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const char *const WaylandInputReason = QT_TRANSLATE_NOOP("GlintorGUI",
    "Wayland 桌面不把按键和指针的移动交给程序，这几项在此不起作用。请在桌面的快捷键设置里为命令 "
    "glintor-locate 绑定一个键。");
const char *const NoLayerShellNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "这个 Wayland 桌面不提供 layer-shell：Glintor 通过 XWayland 运行，"
    "只有指针和按键在 X11 窗口上时才能看到它们。");
// GNOME on Wayland: where Glintor's extension for GNOME Shell stands, and what to do about it.
const char *const ExtensionActiveNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME Shell 的 Glintor 扩展已启用：服务从 GNOME Shell 得到指针、指针的移动和快捷键。");
const char *const ExtensionInstalledNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME Shell 的 Glintor 扩展已安装但未启用，服务只在指针和按键位于 X11 窗口上时才能看到它们。"
    "请运行 gnome-extensions enable glintor@glintor.org，然后重新登录。");
const char *const ExtensionMissingNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "没有找到 GNOME Shell 的 Glintor 扩展，服务只在指针和按键位于 X11 窗口上时才能看到它们。"
    "请用 scripts/run 或 glintor 软件包安装它，运行 gnome-extensions enable glintor@glintor.org，然后重新登录。");
const char *const ExtensionNotLoadedNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME Shell 的 Glintor 扩展是在 GNOME Shell 启动之后安装的，GNOME Shell 只在登录时读取扩展。"
    "请注销并重新登录；如果它仍未启用，请运行 gnome-extensions enable glintor@glintor.org。");
// %1: the GNOME Shell releases the extension declares, %2: this Shell's version, %3: its release.
const char *const ExtensionOutOfDateNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME Shell 的 Glintor 扩展是为 GNOME Shell %1 做的，不适用于 GNOME Shell %2，所以 GNOME Shell 没有加载它。"
    "请安装适用于 GNOME %3 的 Glintor（scripts/run 或 glintor 软件包），然后重新登录。");
// %1: GNOME Shell's reason.
const char *const ExtensionFailedNote = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME Shell 无法启动 Glintor 扩展（%1）。请重新安装 Glintor（scripts/run 或 glintor 软件包），然后重新登录；"
    "GNOME Shell 的日志有详细信息（journalctl -b /usr/bin/gnome-shell）。");
const char *const GnomeCtrlTapReason = QT_TRANSLATE_NOOP("GlintorGUI",
    "GNOME 有自己的“定位指针”（设置 → 辅助功能 → 指点与点击），也是按 Ctrl：这一项在此不起作用。");

QString translated(const char *source)
{
    return QCoreApplication::translate("GlintorGUI", source);
}

void greyOut(QLayoutItem *item)
{
    if (!item)
        return;
    if (QWidget *widget = item->widget())
        widget->setEnabled(false);
    if (QLayout *layout = item->layout()) {
        for (int i = 0; i < layout->count(); ++i)
            greyOut(layout->itemAt(i));
    }
}

} // namespace

void DesktopNotes::show(
    QFormLayout *form, QVBoxLayout *mainLayout, QWidget *statusLine, QWidget *shakeCheck, QWidget *ctrlTapCheck)
{
    const DisplayCheck::WaylandDesktop desktop = DisplayCheck::waylandDesktop();
    if (desktop == DisplayCheck::WaylandDesktop::NoCompositor)
        return;
    // Small like the hints, but not grey: it must not pass for one of the greyed rows. The commands
    // are there to be copied.
    const auto explaining = [](const char *source, const QList<const char *> &others = {}) {
        auto *label = new QLabel(translated(source));
        label->setStyleSheet(QStringLiteral("QLabel { font-size: 11px; }"));
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QStringList texts { QString::fromUtf8(source), label->text() };
        for (const char *other : others)
            texts << QString::fromUtf8(other) << translated(other);
        SmallLabels::reserveTwoLines(label, texts);
        return label;
    };
    if (ShellExtension::gnomeOnWayland()) {
        // Under the service's status line, kept up to date with it; only the Ctrl tap is greyed,
        // under the reason: GNOME has its own.
        gnomeNote = explaining(ExtensionMissingNote,
            { ExtensionActiveNote, ExtensionInstalledNote, ExtensionNotLoadedNote, ExtensionOutOfDateNote,
                ExtensionFailedNote });
        gnomeNote->setObjectName(QStringLiteral("gnomeNote"));
        gnomeNote->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        mainLayout->insertWidget(mainLayout->indexOf(statusLine) + 1, gnomeNote);
        showExtensionState();
        QLabel *reason = explaining(GnomeCtrlTapReason);
        reason->setObjectName(QStringLiteral("ctrlTapReason"));
        int row = 0;
        QFormLayout::ItemRole role;
        form->getWidgetPosition(ctrlTapCheck, &row, &role);
        greyOut(form->itemAt(row, role));
        form->insertRow(row, reason);
        return;
    }
    const char *source = desktop == DisplayCheck::WaylandDesktop::LayerShell ? WaylandInputReason : NoLayerShellNote;
    QLabel *label = explaining(source);
    if (desktop == DisplayCheck::WaylandDesktop::NoLayerShell) {
        label->setObjectName(QStringLiteral("waylandNote"));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        // Under the service's status line: it tells how the service runs, and nothing is greyed.
        mainLayout->insertWidget(mainLayout->indexOf(statusLine) + 1, label);
        return;
    }
    // Right above the rows it speaks of, which run from the shake trigger to the Ctrl tap. Their
    // values are still loaded and saved: nothing is lost for an X11 session with the same settings.
    label->setObjectName(QStringLiteral("waylandReason"));
    int first = 0;
    int last = 0;
    QFormLayout::ItemRole role;
    form->getWidgetPosition(shakeCheck, &first, &role);
    form->getWidgetPosition(ctrlTapCheck, &last, &role);
    for (int row = first; row <= last; ++row) {
        for (const QFormLayout::ItemRole part :
            { QFormLayout::LabelRole, QFormLayout::FieldRole, QFormLayout::SpanningRole })
            greyOut(form->itemAt(row, part));
    }
    form->insertRow(first, label);
}

void DesktopNotes::showExtensionState()
{
    if (!gnomeNote)
        return;
    // GNOME Shell answers at once, or not at all where it is not there to ask.
    const ShellExtension::Status status = ShellExtension::status(1000);
    const QString shell = status.shellVersion.isEmpty() ? QStringLiteral("?") : status.shellVersion;
    switch (status.kind) {
    case ShellExtension::Status::Active:
        gnomeNote->setText(translated(ExtensionActiveNote));
        break;
    case ShellExtension::Status::NotEnabled:
        gnomeNote->setText(translated(ExtensionInstalledNote));
        break;
    case ShellExtension::Status::NotLoaded:
        gnomeNote->setText(translated(ExtensionNotLoadedNote));
        break;
    case ShellExtension::Status::OutOfDate:
        gnomeNote->setText(translated(ExtensionOutOfDateNote)
                               .arg(status.declaredVersions.join(QStringLiteral(", ")), shell,
                                   shell.section(QLatin1Char('.'), 0, 0)));
        break;
    case ShellExtension::Status::Failed:
        gnomeNote->setText(translated(ExtensionFailedNote).arg(status.error));
        break;
    case ShellExtension::Status::NotInstalled:
        gnomeNote->setText(translated(ExtensionMissingNote));
        break;
    }
}
