# Run by cmake --install: writes share/applications/zurodid-agent.desktop, which starts the
# setup command, and bin/zurodid-agent-setup with the installed paths filled in. The variables
# come from ZurodidInstall.cmake.
foreach(dir BINDIR DATADIR LIBEXECDIR)
  set(path "${ZURODID_INSTALL_${dir}}")
  if(NOT IS_ABSOLUTE "${path}")
    set(path "${CMAKE_INSTALL_PREFIX}/${path}")
  endif()
  set(${dir} "${path}")
endforeach()

set(setup "$ENV{DESTDIR}${BINDIR}/zurodid-agent-setup")
message(STATUS "Installing: ${setup}")
file(READ "${ZURODID_SETUP_SOURCE}" text)
string(REPLACE "@ZURODID_INSTALLED_AGENT@" "${BINDIR}/zurodid-agent" text "${text}")
string(REPLACE "@ZURODID_INSTALLED_ENTRY_TOOL@" "${LIBEXECDIR}/zurodid-agent/desktop-entry"
       text "${text}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${BINDIR}")
file(WRITE "${setup}" "${text}")
file(CHMOD "${setup}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)

set(entry "$ENV{DESTDIR}${DATADIR}/applications/zurodid-agent.desktop")
message(STATUS "Installing: ${entry}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${DATADIR}/applications")
execute_process(
  COMMAND "${ZURODID_DESKTOP_ENTRY_TOOL}" setup-menu "${BINDIR}/zurodid-agent-setup"
  OUTPUT_FILE "${entry}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${entry}")
  message(FATAL_ERROR "desktop-entry could not write the menu entry (${result})")
endif()
