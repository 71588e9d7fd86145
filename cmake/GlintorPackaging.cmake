# Debian package of the whole installation: "cpack -G DEB" in the build folder gives
# glintor_<version>_amd64.deb, which installs under /usr (and the autostart entry under /etc).

set(CPACK_PACKAGE_NAME glintor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Glintor developers")
set(CPACK_PACKAGE_CONTACT "${GLINTOR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pointer locator for X11 and Wayland desktops")
# Debian shows the extended description as is: lines of at most 80 characters, "." for a blank one.
set(CPACK_PACKAGE_DESCRIPTION "Glintor shows where the mouse pointer is. Pressing Ctrl+Alt+M in any
application, or shaking the mouse quickly from side to side, plays a short
animation around the pointer on a transparent, click-through window above all
others: three rings closing in on the pointer (white, red or rainbow), a burst
of coloured dots, or a spray of small coloured stars.
.
The package holds the background service, run as the systemd user unit
glintor.service or from an XDG autostart entry, glintor-gui, a settings
window, and glintor-locate, a command that plays the animation from any key
binding through the service's session bus interface.
.
On Wayland desktops whose compositor offers layer-shell (sway, Hyprland,
labwc, KDE Plasma and others) the service runs as a native Wayland client,
triggered by glintor-locate bound to a key in the compositor. On GNOME's
Wayland session the GNOME Shell extension glintor@glintor.org, which the
package holds, gives the service the pointer, its motion and the hotkey.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The install scripts see CMAKE_INSTALL_PREFIX=/usr and a DESTDIR, so the unit and the entries name
# /usr/bin and the autostart entry lands in /etc/xdg/autostart.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME glintor)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # glintor_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${GLINTOR_MAINTAINER}")
# dpkg-shlibdeps finds the Qt and X11 libraries the programs link against, as this release names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins, which no program links: Qt's Wayland platform and its layer-shell integration, on which
# the service runs on Wayland desktops.
if(QT_MAJOR_VERSION EQUAL 5)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qtwayland5, layer-shell-qt")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, layer-shell-qt")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The autostart entry is the package's one file under /etc: a configuration file to dpkg.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/data/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
