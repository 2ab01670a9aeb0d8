# The Wayland clipboard: client code for the data-control protocols, generated at build time
# from the definitions in protocols/, linked into the platform layer.
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

set(_protocol_dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
file(MAKE_DIRECTORY ${_protocol_dir})
set(_protocol_sources)
foreach(_protocol ext-data-control-v1 wlr-data-control-unstable-v1
                  wlr-foreign-toplevel-management-unstable-v1 virtual-keyboard-unstable-v1)
    set(_xml ${CMAKE_CURRENT_SOURCE_DIR}/protocols/${_protocol}.xml)
    set(_header ${_protocol_dir}/${_protocol}-client-protocol.h)
    set(_code ${_protocol_dir}/${_protocol}-protocol.c)
    add_custom_command(OUTPUT ${_header} ${_code}
        COMMAND ${WAYLAND_SCANNER} client-header ${_xml} ${_header}
        COMMAND ${WAYLAND_SCANNER} private-code ${_xml} ${_code}
        DEPENDS ${_xml}
        COMMENT "Generating the ${_protocol} client code")
    # The project builds no C: the generated tables are compiled as C++ with C linkage. The
    # header comes first so every interface table keeps external linkage.
    set(_unit ${_protocol_dir}/${_protocol}-protocol.cpp)
    file(CONFIGURE OUTPUT ${_unit} CONTENT
"#include \"${_protocol}-client-protocol.h\"
#pragma GCC diagnostic ignored \"-Wattributes\"
extern \"C\" {
#include \"${_protocol}-protocol.c\"
}
")
    set_source_files_properties(${_unit} PROPERTIES OBJECT_DEPENDS "${_header};${_code}")
    list(APPEND _protocol_sources ${_header} ${_unit})
endforeach()

add_library(ulvane_wayland_protocols STATIC ${_protocol_sources})
target_include_directories(ulvane_wayland_protocols PUBLIC ${_protocol_dir})
target_link_libraries(ulvane_wayland_protocols PUBLIC PkgConfig::WAYLAND_CLIENT)
target_link_libraries(ulvane_platform PUBLIC ulvane_wayland_protocols)
