# Included by gnome-shell/ and tests/: the GNOME Shell releases each flavour of an extension declares,
# and how an extension is built in both flavours from one body.

# A new GNOME release is one more number here; both metadata files are filled from these.
set(GLINTOR_SHELL_VERSIONS_legacy 42 43 44)
set(GLINTOR_SHELL_VERSIONS_esm 45 46 47 48 49 50 51)
set(GLINTOR_SHELL_ASSEMBLE ${CMAKE_CURRENT_LIST_DIR}/assemble.cmake)

# glintor_shell_extension(<target> UUID <uuid> BODY <js> PARTS <dir> METADATA <json.in> OUTPUT <dir>)
# Builds OUTPUT/<flavour>/<uuid>/ for both flavours, legacy (imports.*) and esm (ES modules):
# extension.js from PARTS/head-<flavour>.js, BODY and PARTS/tail-<flavour>.js, and metadata.json
# from METADATA, in which @SHELL_VERSIONS@ is the flavour's releases as JSON strings.
function(glintor_shell_extension target)
    cmake_parse_arguments(E "" "UUID;BODY;PARTS;METADATA;OUTPUT" "" ${ARGN})
    set(outputs)
    foreach(flavour legacy esm)
        set(dir ${E_OUTPUT}/${flavour}/${E_UUID})
        set(head ${E_PARTS}/head-${flavour}.js)
        set(tail ${E_PARTS}/tail-${flavour}.js)
        add_custom_command(OUTPUT ${dir}/extension.js
            COMMAND ${CMAKE_COMMAND} -DHEAD=${head} -DBODY=${E_BODY} -DTAIL=${tail} -DVERSION=${PROJECT_VERSION}
                    -DOUTPUT=${dir}/extension.js -P ${GLINTOR_SHELL_ASSEMBLE}
            DEPENDS ${head} ${E_BODY} ${tail} ${GLINTOR_SHELL_ASSEMBLE} VERBATIM)
        list(JOIN GLINTOR_SHELL_VERSIONS_${flavour} "\", \"" SHELL_VERSIONS)
        set(SHELL_VERSIONS "\"${SHELL_VERSIONS}\"")
        configure_file(${E_METADATA} ${dir}/metadata.json @ONLY)
        list(APPEND outputs ${dir}/extension.js)
    endforeach()
    add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
