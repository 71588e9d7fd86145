# Qt 5.15 or Qt 6, from one tree. KDE's layer-shell library (layer-shell-qt) links a Qt of its own,
# and two Qts cannot meet in one program: by default the build takes the Qt that layer-shell-qt was
# built for (Qt 5 up to Plasma 5, Qt 6 from Plasma 6 on). QT_MAJOR_VERSION chooses by hand.
set(QT_MAJOR_VERSION "" CACHE STRING "Qt to build with: 5 or 6 (empty: the Qt layer-shell-qt was built for)")
set_property(CACHE QT_MAJOR_VERSION PROPERTY STRINGS "" 5 6)

# Read from its version file, without loading the package (which would load its Qt).
find_file(GLINTOR_LAYER_SHELL_QT_VERSION_FILE LayerShellQtConfigVersion.cmake
    PATH_SUFFIXES lib/${CMAKE_LIBRARY_ARCHITECTURE}/cmake/LayerShellQt lib64/cmake/LayerShellQt lib/cmake/LayerShellQt
    DOC "The version file of layer-shell-qt's CMake package")
set(_glintor_layer_shell_version ${GLINTOR_LAYER_SHELL_QT_VERSION_FILE})
if(NOT _glintor_layer_shell_version)
    message(FATAL_ERROR "layer-shell-qt was not found: install KDE's layer-shell library for Qt "
        "(Debian: liblayershellqtinterface-dev), or point CMAKE_PREFIX_PATH at it.")
endif()
file(STRINGS ${_glintor_layer_shell_version} _glintor_line REGEX "set\\(PACKAGE_VERSION \"[0-9]+")
string(REGEX MATCH "\"([0-9]+)\\.[0-9.]*\"" _glintor_match "${_glintor_line}")
set(_glintor_layer_shell_qt ${CMAKE_MATCH_1})
# Plasma 5's layer-shell-qt (5.x) is built for Qt 5; Plasma 6's (6.x) for Qt 6 only.
if(_glintor_layer_shell_qt STREQUAL "")
    message(FATAL_ERROR "Cannot read the version of layer-shell-qt from ${_glintor_layer_shell_version}")
elseif(_glintor_layer_shell_qt LESS 6)
    set(_glintor_layer_shell_qt 5)
else()
    set(_glintor_layer_shell_qt 6)
endif()

if(QT_MAJOR_VERSION STREQUAL "")
    set(QT_MAJOR_VERSION ${_glintor_layer_shell_qt})
elseif(NOT QT_MAJOR_VERSION MATCHES "^[56]$")
    message(FATAL_ERROR "QT_MAJOR_VERSION must be 5 or 6 (or empty), not \"${QT_MAJOR_VERSION}\"")
elseif(NOT QT_MAJOR_VERSION STREQUAL _glintor_layer_shell_qt)
    get_filename_component(_glintor_dir ${_glintor_layer_shell_version} DIRECTORY)
    message(FATAL_ERROR "QT_MAJOR_VERSION is ${QT_MAJOR_VERSION}, but the layer-shell-qt in ${_glintor_dir} is built "
        "for Qt ${_glintor_layer_shell_qt}, and one program cannot use two Qts. Configure with "
        "-DQT_MAJOR_VERSION=${_glintor_layer_shell_qt} (or leave it empty), or point CMAKE_PREFIX_PATH at a "
        "layer-shell-qt built for Qt ${QT_MAJOR_VERSION}.")
endif()

if(QT_MAJOR_VERSION EQUAL 5)
    set(GLINTOR_QT_MINIMUM 5.15)
else()
    set(GLINTOR_QT_MINIMUM 6.4)
endif()
find_package(Qt${QT_MAJOR_VERSION} ${GLINTOR_QT_MINIMUM} REQUIRED COMPONENTS Core Gui Widgets DBus LinguistTools)
message(STATUS "Building with Qt ${Qt${QT_MAJOR_VERSION}_VERSION}")
