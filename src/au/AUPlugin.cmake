# torvane_au_plugin(<target> <file name> ENTRY <symbol> TYPE <4cc> SUBTYPE <4cc>
#                   MANUFACTURER <4cc> NAME <text> VERSION <integer> SOURCES ... LIBS ...)
# Builds an Audio Unit component library <file name>.so that exports only its entry (hidden
# visibility, the static libraries' symbols kept local, a version script), and beside it the
# registration file <file name>.auinfo that a host reads to find and describe the component:
# one "key value" line each for type, subtype, manufacturer, name, version and entry.
function(torvane_au_plugin target file_name)
  cmake_parse_arguments(ARG "" "ENTRY;TYPE;SUBTYPE;MANUFACTURER;NAME;VERSION" "SOURCES;LIBS" ${ARGN})
  set(_map ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.map)
  file(WRITE ${_map} "{\n  global:\n    ${ARG_ENTRY};\n  local:\n    *;\n};\n")
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
    "LINKER:--exclude-libs,ALL")
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
")
endfunction()
