# selvo_install_configured(NAME DESTINATION COMPONENT): installs packaging/NAME.in as
# NAME into DESTINATION with its @VARIABLES@ filled in when installing, not
# when configuring, so that the folders it names are those this install
# writes to, also after `cmake --install --prefix DIR` (with DESTDIR they stay
# the folders of the installed system). The template sees SELVO_PREFIX,
# SELVO_BINDIR, SELVO_LIBDIR and SELVO_INCLUDEDIR (absolute), PROJECT_NAME,
# PROJECT_DESCRIPTION and PROJECT_VERSION, and SELVO_MODULE_SONAME (the
# module's file name a host loads it by).
function(selvo_install_configured name destination component)
  set(template ${PROJECT_SOURCE_DIR}/packaging/${name}.in)
  set(written ${PROJECT_BINARY_DIR}/packaging/${name})
  # CMAKE_INSTALL_PREFIX escaped: the install script's value, --prefix's when given.
  set(code "set(SELVO_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")\n")
  foreach(dir IN ITEMS BINDIR LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      string(APPEND code "set(SELVO_${dir} [==[${CMAKE_INSTALL_${dir}}]==])\n")
    else()
      string(APPEND code "set(SELVO_${dir} \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_${dir}}\")\n")
    endif()
  endforeach()
  foreach(var IN ITEMS PROJECT_NAME PROJECT_DESCRIPTION PROJECT_VERSION SELVO_MODULE_SONAME)
    string(APPEND code "set(${var} [==[${${var}}]==])\n")
  endforeach()
  string(APPEND code "configure_file([==[${template}]==] [==[${written}]==] @ONLY)\n")
  install(CODE "${code}" COMPONENT ${component})
  install(FILES ${written} DESTINATION ${destination} COMPONENT ${component})
endfunction()
