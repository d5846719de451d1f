# torvane_au_plugin(<target> <file name> ENTRY <symbol> TYPE <4cc> SUBTYPE <4cc>
#                   MANUFACTURER <4cc> NAME <text> VERSION <integer> [VIEW_ENTRY <symbol>]
#                   SOURCES ... LIBS ...)
# Builds an Audio Unit component library <file name>.so that exports only its entries (hidden
# visibility, the static libraries' symbols kept local, a version script), and beside it the
# registration file <file name>.auinfo that a host reads to find and describe the component:
# one "key value" line each for type, subtype, manufacturer, name, version and entry; with a
# view component, view_type (auvw), view_subtype, view_manufacturer (the unit's) and view_entry.
function(torvane_au_plugin target file_name)
  cmake_parse_arguments(ARG "" "ENTRY;TYPE;SUBTYPE;MANUFACTURER;NAME;VERSION;VIEW_ENTRY" "SOURCES;LIBS" ${ARGN})
  set(_map ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.map)
  set(_exports "    ${ARG_ENTRY};\n")
  set(_view "")
  if(ARG_VIEW_ENTRY)
    string(APPEND _exports "    ${ARG_VIEW_ENTRY};\n")
    set(_view "view_type auvw\nview_subtype ${ARG_SUBTYPE}\nview_manufacturer ${ARG_MANUFACTURER}\nview_entry ${ARG_VIEW_ENTRY}\n")
  endif()
  file(WRITE ${_map} "{\n  global:\n${_exports}  local:\n    *;\n};\n")
  add_library(${target} MODULE ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${file_name}
    SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${_map})
  target_link_options(${target} PRIVATE
    "LINKER:--version-script=${_map}"
    "LINKER:--exclude-libs,ALL"
    # Never unmapped once loaded: a host may unload the library after a close that returned
    # while one of its threads still runs our code.
    "LINKER:-z,nodelete")
  # Every symbol resolved at link time (sanitizer runtimes live in the host program).
  if(NOT TORVANE_SANITIZE AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${target} PRIVATE "LINKER:-z,defs")
  endif()
  file(GENERATE OUTPUT $<TARGET_FILE_DIR:${target}>/${file_name}.auinfo CONTENT
"type ${ARG_TYPE}
subtype ${ARG_SUBTYPE}
manufacturer ${ARG_MANUFACTURER}
name ${ARG_NAME}
version ${ARG_VERSION}
entry ${ARG_ENTRY}
${_view}")
endfunction()
