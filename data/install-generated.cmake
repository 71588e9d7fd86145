# Runs inside the install step (cmake --install, CPack). Writes the systemd user unit, the desktop
# entry and the autostart entry for the prefix being installed to and installs them.

function(glintor_install_path out relative)
    if(IS_ABSOLUTE "${relative}")
        set(${out} "${relative}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
    endif()
endfunction()

glintor_install_path(GLINTOR_BINDIR "${GLINTOR_INSTALL_BINDIR}")
glintor_install_path(_datadir "${GLINTOR_INSTALL_DATADIR}")

# System-wide configuration of a /usr installation lives in /etc, as GNUInstallDirs has it.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT IS_ABSOLUTE "${GLINTOR_INSTALL_SYSCONFDIR}")
    set(_sysconfdir "/etc")
else()
    glintor_install_path(_sysconfdir "${GLINTOR_INSTALL_SYSCONFDIR}")
endif()

# One folder per prefix, so two installs running at once never write each other's files.
string(MD5 _key "${CMAKE_INSTALL_PREFIX}")
set(_out "${GLINTOR_DATA_BINARY_DIR}/install-${_key}")
configure_file("${GLINTOR_DATA_SOURCE_DIR}/glintor.service.in" "${_out}/glintor.service" @ONLY)
configure_file("${GLINTOR_DATA_SOURCE_DIR}/glintor-gui.desktop.in" "${_out}/glintor-gui.desktop" @ONLY)
configure_file("${GLINTOR_DATA_SOURCE_DIR}/glintor-autostart.desktop.in" "${_out}/glintor.desktop" @ONLY)

# file(INSTALL) adds DESTDIR and records the files in install_manifest.txt, like install(FILES).
# systemd looks for user units in lib/systemd/user whatever the architecture's library folder.
file(INSTALL "${_out}/glintor.service" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
file(INSTALL "${_out}/glintor-gui.desktop" DESTINATION "${_datadir}/applications")
file(INSTALL "${_out}/glintor.desktop" DESTINATION "${_sysconfdir}/xdg/autostart")
