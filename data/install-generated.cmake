# Runs inside the install step (cmake --install, CPack). Writes the systemd user unit, the desktop
# entry and the autostart entry for the prefix being installed to and installs them.

function(glintor_install_path out relative)
    if(IS_ABSOLUTE "${relative}")
        set(${out} "${relative}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
    endif()
endfunction()

# The program paths go into command lines of three formats, each with its own quoting. A prefix may
# hold spaces, quotes, "$(...)", ";" or "%": quoted wrongly, the command splits at the space or a
# launcher's shell runs what the path says. Paths without such characters stay unquoted.
set(_plain "^[A-Za-z0-9_./:+,@=-]+$")

# Text inside a double-quoted argument of a desktop entry's Exec key. Two layers: the Exec quoting
# (a backslash before '"', '`', '$' and '\'), then the string escapes of the file ('\\' for each
# backslash); a literal '%' is "%%".
function(glintor_desktop_quoted out text)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\\\"" text "${text}")
    string(REPLACE "`" "\\`" text "${text}")
    string(REPLACE "$" "\\$" text "${text}")
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "%" "%%" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Exec=sh -c "exec PROGRAM": PROGRAM in single quotes for sh (each "'" written as '\''), and the
# script a double-quoted Exec argument.
function(glintor_desktop_sh_exec out program)
    if(NOT program MATCHES "${_plain}")
        string(REPLACE "'" "'\\''" program "${program}")
        glintor_desktop_quoted(program "'${program}'")
    endif()
    set(${out} "exec ${program}" PARENT_SCOPE)
endfunction()

glintor_install_path(GLINTOR_BINDIR "${GLINTOR_INSTALL_BINDIR}")
glintor_install_path(_datadir "${GLINTOR_INSTALL_DATADIR}")

# systemd refuses a program path with quotes, backslashes or control characters, and a desktop entry
# cannot hold control characters.
string(ASCII 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 127 _controls)
if(GLINTOR_BINDIR MATCHES "['\"\\${_controls}]")
    message(FATAL_ERROR "Cannot install Glintor into \"${CMAKE_INSTALL_PREFIX}\": systemd does not run programs "
                        "from a folder whose name holds a quote, a backslash or a control character.")
endif()

# systemd: the program in double quotes, "%%" for a literal "%" (specifiers); it expands no variables
# in the program itself, so a "$" stays as it is.
set(GLINTOR_SERVICE_COMMAND "${GLINTOR_BINDIR}/glintor-service")
if(NOT GLINTOR_SERVICE_COMMAND MATCHES "${_plain}")
    string(REPLACE "%" "%%" GLINTOR_SERVICE_COMMAND "\"${GLINTOR_SERVICE_COMMAND}\"")
endif()
set(GLINTOR_GUI_COMMAND "${GLINTOR_BINDIR}/glintor-gui")
if(GLINTOR_GUI_COMMAND MATCHES "%")
    # GLib looks for the first word of Exec before it turns "%%" into "%": name sh there instead.
    glintor_desktop_sh_exec(GLINTOR_GUI_COMMAND "${GLINTOR_GUI_COMMAND}")
    set(GLINTOR_GUI_COMMAND "sh -c \"${GLINTOR_GUI_COMMAND}\"")
elseif(NOT GLINTOR_GUI_COMMAND MATCHES "${_plain}")
    glintor_desktop_quoted(GLINTOR_GUI_COMMAND "${GLINTOR_GUI_COMMAND}")
    set(GLINTOR_GUI_COMMAND "\"${GLINTOR_GUI_COMMAND}\"")
endif()
glintor_desktop_sh_exec(GLINTOR_SERVICE_IN_SCRIPT "${GLINTOR_BINDIR}/glintor-service")

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
