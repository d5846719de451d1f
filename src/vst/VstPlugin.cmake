# torvane_vst_plugin(<target> <file name> SOURCES ... LIBS ...)
# Builds a VST 2.4 plug-in library <file name>.so that exports only its entries,
# VSTPluginMain and main: hidden visibility, the static libraries' symbols kept local,
# and a version script.
set(TORVANE_VST_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/vst-exports.map)

function(torvane_vst_plugin target file_name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${file_name}
    SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${TORVANE_VST_EXPORTS_MAP})
  target_link_options(${target} PRIVATE
    "LINKER:--version-script=${TORVANE_VST_EXPORTS_MAP}"
    "LINKER:--exclude-libs,ALL"
    # Never unmapped once loaded: a host may unload the library after a close that returned
    # while one of its threads still runs our code.
    "LINKER:-z,nodelete")
  # Every symbol resolved at link time (the sanitizer runtimes live in the host program).
  if(NOT TORVANE_SANITIZE AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${target} PRIVATE "LINKER:-z,defs")
  endif()
endfunction()
