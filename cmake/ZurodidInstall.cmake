# cmake --install, for packagers: the executable, the icon set and the menu entry under the
# prefix. The agent reads its diary and settings beside its executable, so a user's own
# install goes through scripts/install, which puts it into the diary's folder.
include(GNUInstallDirs)

install(TARGETS zurodid-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${ZURODID_ICON_THEME_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The menu entry names the executable where it lands, which is known only when installing
# (cmake --install --prefix), and is written by the same tool as scripts/install's.
install(CODE "
  set(ZURODID_DESKTOP_ENTRY_TOOL \"$<TARGET_FILE:desktop-entry>\")
  set(ZURODID_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ZURODID_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/ZurodidMenuEntry.cmake)
