# How a folder of the module lists its units.
#
#   selvo_add_units(UnitA UnitB ... UI UnitC ...)
#
# adds UnitA.cpp, UnitB.cpp of the calling folder to selvo_core, the library
# without Qt, and the units after UI (windows and Qt services) to selvo_ui.
function(selvo_add_units)
  cmake_parse_arguments(ARG "" "" "UI" ${ARGN})
  foreach(unit IN LISTS ARG_UNPARSED_ARGUMENTS)
    target_sources(selvo_core PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${unit}.cpp)
  endforeach()
  foreach(unit IN LISTS ARG_UI)
    target_sources(selvo_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${unit}.cpp)
  endforeach()
endfunction()
