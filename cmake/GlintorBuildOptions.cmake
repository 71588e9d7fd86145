# One interface target carries the language level, the warnings and the sanitizers;
# every target of the project links it.
set(GLINTOR_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address;undefined' or 'thread'")
option(GLINTOR_WERROR "Treat compiler warnings as errors" OFF)

add_library(glintor_build_options INTERFACE)
target_compile_features(glintor_build_options INTERFACE cxx_std_17)
set_target_properties(glintor_build_options PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)
# The C code wayland-scanner writes gets the warnings that C knows.
target_compile_options(glintor_build_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>
    $<$<BOOL:${GLINTOR_WERROR}>:-Werror>)
target_compile_definitions(glintor_build_options INTERFACE
    QT_NO_FOREACH QT_DEPRECATED_WARNINGS)

# The hardening a Debian package is expected to carry; _FORTIFY_SOURCE needs optimisation and
# gets in the sanitizers' way.
if(NOT GLINTOR_SANITIZE)
    target_compile_definitions(glintor_build_options INTERFACE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
target_link_options(glintor_build_options INTERFACE -Wl,-z,relro,-z,now)

if(GLINTOR_SANITIZE)
    string(REPLACE ";" "," _glintor_sanitizers "${GLINTOR_SANITIZE}")
    # -O1 and line tables only: the sanitizers' own advice for readable reports, and a build that
    # takes much less time than a fully optimised one with full debug information.
    target_compile_options(glintor_build_options INTERFACE
        -fsanitize=${_glintor_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all -O1 -g1)
    target_link_options(glintor_build_options INTERFACE -fsanitize=${_glintor_sanitizers})
endif()
