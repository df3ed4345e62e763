# cmake --install, for packagers (debian/ uses it): the executable and its setup command, the
# icon set, the menu entry, the AppStream metainfo and the manual pages under the prefix. A
# packaged agent is told its diary's folder (--folder) by the log-in entry that
# zurodid-agent-setup writes into the user's home; scripts/install instead puts a built agent
# into the diary's folder.
include(GNUInstallDirs)

install(TARGETS zurodid-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS desktop-entry RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zurodid-agent)
install(DIRECTORY ${ZURODID_ICON_THEME_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_SOURCE_DIR}/resources/metainfo/org.example.zurodid.agent.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/man/zurodid-agent.1
              ${PROJECT_SOURCE_DIR}/resources/man/zurodid-agent-setup.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The menu entry and the setup command name the programs where they land, which is known only
# when installing (cmake --install --prefix); the entry is written by the same tool as the
# user's entries.
install(CODE "
  set(ZURODID_DESKTOP_ENTRY_TOOL \"$<TARGET_FILE:desktop-entry>\")
  set(ZURODID_SETUP_SOURCE \"${PROJECT_SOURCE_DIR}/tools/setup/zurodid-agent-setup\")
  set(ZURODID_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ZURODID_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(ZURODID_INSTALL_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/ZurodidMenuEntry.cmake)
