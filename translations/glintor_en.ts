<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>GlintorGUI</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Glintor</source>
        <translation>Glintor</translation>
    </message>
    <message>
        <source>服务状态: 检查中...</source>
        <translation>Service status: checking...</translation>
    </message>
    <message>
        <source>启动服务</source>
        <translation>Start service</translation>
    </message>
    <message>
        <source>停止服务</source>
        <translation>Stop service</translation>
    </message>
    <message>
        <source>重启服务</source>
        <translation>Restart service</translation>
    </message>
    <message>
        <source>白色</source>
        <translation>White</translation>
    </message>
    <message>
        <source>红色</source>
        <translation>Red</translation>
    </message>
    <message>
        <source>彩虹</source>
        <translation>Rainbow</translation>
    </message>
    <message>
        <source>圆环颜色:</source>
        <translation>Ring color:</translation>
    </message>
    <message>
        <source>随机效果</source>
        <translation>Random effect</translation>
    </message>
    <message>
        <source>圆环效果</source>
        <translation>Ring effect</translation>
    </message>
    <message>
        <source>烟花效果</source>
        <translation>Fireworks effect</translation>
    </message>
    <message>
        <source>彩色星星</source>
        <translation>Colored stars</translation>
    </message>
    <message>
        <source>动画效果:</source>
        <translation>Animation effect:</translation>
    </message>
    <message>
        <source>启用动画</source>
        <translation>Enable animation</translation>
    </message>
    <message>
        <source>启用摇晃触发</source>
        <translation>Enable shake trigger</translation>
    </message>
    <message>
        <source>摇晃距离 (px):</source>
        <translation>Shake distance (px):</translation>
    </message>
    <message>
        <source>(范围: 10-1000 px)</source>
        <translation>(range: 10-1000 px)</translation>
    </message>
    <message>
        <source>摇晃窗口 (ms):</source>
        <translation>Shake window (ms):</translation>
    </message>
    <message>
        <source>(范围: 100-5000 ms)</source>
        <translation>(range: 100-5000 ms)</translation>
    </message>
    <message>
        <source>所需交替次数:</source>
        <translation>Required alternations:</translation>
    </message>
    <message>
        <source>(范围: 1-10 次)</source>
        <translation>(range: 1-10 times)</translation>
    </message>
    <message>
        <source>保存设置</source>
        <translation>Save settings</translation>
    </message>
    <message>
        <source>恢复默认配置</source>
        <translation>Restore defaults</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Glintor服务已成功启动。</source>
        <translation>The Glintor service was started successfully.</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法启动Glintor服务。</source>
        <translation>Could not start the Glintor service.</translation>
    </message>
    <message>
        <source>Glintor服务已成功停止。</source>
        <translation>The Glintor service was stopped successfully.</translation>
    </message>
    <message>
        <source>无法停止Glintor服务。</source>
        <translation>Could not stop the Glintor service.</translation>
    </message>
    <message>
        <source>Glintor服务已成功重启。</source>
        <translation>The Glintor service was restarted successfully.</translation>
    </message>
    <message>
        <source>信息</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>已尝试重启Glintor服务。如果服务未运行，请手动启动。</source>
        <translation>Tried to restart the Glintor service. If the service is not running, please start it manually.</translation>
    </message>
    <message>
        <source>服务状态: 运行中</source>
        <translation>Service status: running</translation>
    </message>
    <message>
        <source>服务状态: 已停止</source>
        <translation>Service status: stopped</translation>
    </message>
    <message>
        <source>确认恢复默认配置</source>
        <translation>Confirm restoring defaults</translation>
    </message>
    <message>
        <source>您确定要恢复所有设置为默认值吗？

此操作将清除所有自定义设置并重启服务。</source>
        <translation>Are you sure you want to restore all settings to their default values?

This clears all custom settings and restarts the service.</translation>
    </message>
    <message>
        <source>已恢复默认配置并重启服务。</source>
        <translation>The default settings have been restored and the service restarted.</translation>
    </message>
    <message>
        <source>设置未保存。</source>
        <translation>The settings were not saved.</translation>
    </message>
    <message>
        <source>未能恢复默认配置。</source>
        <translation>The default settings were not restored.</translation>
    </message>
    <message>
        <source>%1

无法写入设置文件“%2”：%3。

该文件保持原样，服务未重启。</source>
        <translation>%1

The settings file &quot;%2&quot; could not be written: %3.

The file was left as it was and the service was not restarted.</translation>
    </message>
    <message>
        <source>“%1”不是文件夹</source>
        <translation>&quot;%1&quot; is not a folder</translation>
    </message>
    <message>
        <source>它是一个文件夹</source>
        <translation>it is a folder</translation>
    </message>
    <message>
        <source>无法创建文件夹“%1”</source>
        <translation>the folder &quot;%1&quot; cannot be created</translation>
    </message>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
    <message>
        <source>关于Glintor</source>
        <translation>About Glintor</translation>
    </message>
    <message>
        <source>Glintor - 在按下快捷键时在鼠标位置显示动画圆环

版本 %1</source>
        <translation>Glintor - shows an animated ring at the mouse position when the shortcut key is pressed

Version %1</translation>
    </message>
    <message>
        <source>快捷键:</source>
        <translation>Hotkey:</translation>
    </message>
    <message>
        <source>单击 Ctrl 键显示指针位置</source>
        <translation>Tap Ctrl to show the pointer</translation>
    </message>
    <message>
        <source>(需含 Ctrl、Alt 或 Meta；功能键可单独使用。也可在桌面的快捷键设置中绑定命令 glintor-locate)</source>
        <translation>(with Ctrl, Alt or Meta, or an F key alone; or bind glintor-locate as a desktop shortcut)</translation>
    </message>
    <message>
        <source>不能用“%1”：需含 Ctrl、Alt 或 Meta；功能键可单独使用</source>
        <translation>Cannot use “%1”: it needs Ctrl, Alt or Meta, or must be an F key</translation>
    </message>
    <message>
        <source>GNOME Shell 的 Glintor 扩展已启用：服务从 GNOME Shell 得到指针、指针的移动和快捷键。</source>
        <translation>Glintor&apos;s extension for GNOME Shell is active: the service gets the pointer, its motion and the hotkey from GNOME Shell.</translation>
    </message>
    <message>
        <source>GNOME Shell 的 Glintor 扩展已安装但未启用，服务只在指针和按键位于 X11 窗口上时才能看到它们。请运行 gnome-extensions enable glintor@glintor.org，然后重新登录。</source>
        <translation>Glintor&apos;s extension for GNOME Shell is installed but not active, so the service sees the pointer and the keys only over X11 windows. Run gnome-extensions enable glintor@glintor.org, then log in again.</translation>
    </message>
    <message>
        <source>没有找到 GNOME Shell 的 Glintor 扩展，服务只在指针和按键位于 X11 窗口上时才能看到它们。请用 scripts/run 或 glintor 软件包安装它，运行 gnome-extensions enable glintor@glintor.org，然后重新登录。</source>
        <translation>Glintor&apos;s extension for GNOME Shell is missing, so the service sees the pointer and the keys only over X11 windows. Install it (scripts/run, or the glintor package), run gnome-extensions enable glintor@glintor.org, then log in again.</translation>
    </message>
    <message>
        <source>GNOME Shell 的 Glintor 扩展是在 GNOME Shell 启动之后安装的，GNOME Shell 只在登录时读取扩展。请注销并重新登录；如果它仍未启用，请运行 gnome-extensions enable glintor@glintor.org。</source>
        <translation>Glintor&apos;s extension for GNOME Shell was installed after GNOME Shell started, which reads extensions only at the login. Log out and in again; if it is still off, run gnome-extensions enable glintor@glintor.org.</translation>
    </message>
    <message>
        <source>GNOME Shell 的 Glintor 扩展是为 GNOME Shell %1 做的，不适用于 GNOME Shell %2，所以 GNOME Shell 没有加载它。请安装适用于 GNOME %3 的 Glintor（scripts/run 或 glintor 软件包），然后重新登录。</source>
        <translation>Glintor&apos;s extension for GNOME Shell is made for GNOME Shell %1, not for GNOME Shell %2, so GNOME Shell does not load it. Install a Glintor made for GNOME %3 (scripts/run, or the glintor package), then log in again.</translation>
    </message>
    <message>
        <source>GNOME Shell 无法启动 Glintor 扩展（%1）。请重新安装 Glintor（scripts/run 或 glintor 软件包），然后重新登录；GNOME Shell 的日志有详细信息（journalctl -b /usr/bin/gnome-shell）。</source>
        <translation>GNOME Shell could not start Glintor&apos;s extension (%1). Install Glintor again (scripts/run, or the glintor package), then log in again; GNOME Shell&apos;s log tells more (journalctl -b /usr/bin/gnome-shell).</translation>
    </message>
    <message>
        <source>GNOME 有自己的“定位指针”（设置 → 辅助功能 → 指点与点击），也是按 Ctrl：这一项在此不起作用。</source>
        <translation>GNOME has its own Locate Pointer on Ctrl (Settings, Accessibility, Pointing &amp; Clicking): this one does nothing here.</translation>
    </message>
    <message>
        <source>不能用“%1”：这个键盘上没有这个键</source>
        <translation>Cannot use “%1”: this keyboard has no such key</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>(无快捷键；按下组合键即可设定，或在桌面的快捷键设置中绑定命令 glintor-locate)</source>
        <translation>(No hotkey. Press a combination to set one, or bind the command glintor-locate as a desktop shortcut.)</translation>
    </message>
    <message>
        <source>不能用“%1”：没有这样的键</source>
        <translation>Cannot use “%1”: there is no such key</translation>
    </message>
    <message>
        <source>不能用“%1”：快捷键只能是一个组合键</source>
        <translation>Cannot use “%1”: the hotkey must be a single combination</translation>
    </message>
    <message>
        <source>不能用“%1”：小键盘上的键不能作快捷键</source>
        <translation>Cannot use “%1”: keys on the keypad cannot be the hotkey</translation>
    </message>
    <message>
        <source>不能用“%1”：服务无法捕获这个键（如多媒体键）</source>
        <translation>Cannot use “%1”: the service cannot catch this key (media keys and the like)</translation>
    </message>
    <message>
        <source>试一试</source>
        <translation>Try it</translation>
    </message>
    <message>
        <source>快捷键 %1 已被其他程序占用。设置已保存，但在那个程序放开它之前，这个快捷键不会起作用。</source>
        <translation>The hotkey %1 is taken by another program. The settings are saved, but the hotkey will not work until that program lets it go.</translation>
    </message>
    <message>
        <source>Wayland 桌面不把按键和指针的移动交给程序，这几项在此不起作用。请在桌面的快捷键设置里为命令 glintor-locate 绑定一个键。</source>
        <translation>Wayland gives programs no keys or pointer motion, so these do nothing here. Bind a key to glintor-locate in the desktop&apos;s shortcut settings.</translation>
    </message>
    <message>
        <source>这个 Wayland 桌面不提供 layer-shell：Glintor 通过 XWayland 运行，只有指针和按键在 X11 窗口上时才能看到它们。</source>
        <translation>This Wayland desktop offers no layer-shell: Glintor runs through XWayland and sees the pointer and the keys only over X11 windows.</translation>
    </message>
    <message>
        <source>在 Wayland 上，预览由正在运行的 Glintor 服务播放：请先启动服务，再试一次。</source>
        <translation>On Wayland the preview is played by the running Glintor service: start the service first, then try again.</translation>
    </message>
</context>
</TS>
