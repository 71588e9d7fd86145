# Client code for Wayland protocols, which wayland-scanner writes at build time: the project's own
# copies of protocols Debian does not package, and those of wayland-protocols.
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET GLOBAL wayland-client)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_SCANNER)
    message(FATAL_ERROR "wayland-scanner not found (package libwayland-dev)")
endif()
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_PROTOCOLS_DIR)
    message(FATAL_ERROR "wayland-protocols not found (package wayland-protocols)")
endif()

# glintor_wayland_protocols(<target> <protocol.xml>...): compiles each protocol's client code into
# target, whose sources then include "<name>-client-protocol.h".
function(glintor_wayland_protocols target)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_protocols)
    file(MAKE_DIRECTORY ${dir})
    foreach(xml IN LISTS ARGN)
        get_filename_component(name ${xml} NAME_WE)
        add_custom_command(OUTPUT ${dir}/${name}-client-protocol.h
            COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${dir}/${name}-client-protocol.h
            DEPENDS ${xml} VERBATIM)
        add_custom_command(OUTPUT ${dir}/${name}-protocol.c
            COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${dir}/${name}-protocol.c
            DEPENDS ${xml} VERBATIM)
        target_sources(${target} PRIVATE ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c)
    endforeach()
    target_include_directories(${target} PRIVATE ${dir})
    target_link_libraries(${target} PRIVATE PkgConfig::WAYLAND_CLIENT)
endfunction()
