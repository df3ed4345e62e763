# Run by cmake --install: writes share/applications/zurodid-agent.desktop for the installed
# executable. The variables come from ZurodidInstall.cmake.
foreach(dir BINDIR DATADIR)
  set(path "${ZURODID_INSTALL_${dir}}")
  if(NOT IS_ABSOLUTE "${path}")
    set(path "${CMAKE_INSTALL_PREFIX}/${path}")
  endif()
  set(${dir} "${path}")
endforeach()

set(entry "$ENV{DESTDIR}${DATADIR}/applications/zurodid-agent.desktop")
message(STATUS "Installing: ${entry}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${DATADIR}/applications")
execute_process(
  COMMAND "${ZURODID_DESKTOP_ENTRY_TOOL}" menu "${BINDIR}/zurodid-agent"
  OUTPUT_FILE "${entry}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${entry}")
  message(FATAL_ERROR "desktop-entry could not write the menu entry (${result})")
endif()
