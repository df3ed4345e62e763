# The agent's icon at every size a desktop asks for, rendered at build time from the one SVG.
# rsvg-convert (librsvg, the renderer freedesktop icon themes are made with) draws each size
# from the vector picture instead of scaling pixels, and it is a program of Debian's, so the
# sanitizer and fuzz builds that instrument our own programs do not reach it.
#
# The sizes are laid out as in an icon theme, ${ZURODID_ICON_THEME_DIR}/<N>x<N>/apps/, so that
# scripts/install and the install rules copy the tree as it is.

find_program(RSVG_CONVERT rsvg-convert REQUIRED)

set(ZURODID_ICON_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/zurodid-agent.svg)
set(ZURODID_ICON_THEME_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons/hicolor)
set(ZURODID_ICON_SIZES 16 22 24 32 48 64 128 256)

set(ZURODID_ICON_FILES)
foreach(size IN LISTS ZURODID_ICON_SIZES)
  set(dir ${ZURODID_ICON_THEME_DIR}/${size}x${size}/apps)
  set(png ${dir}/zurodid-agent.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --format png --output ${png}
            ${ZURODID_ICON_SOURCE}
    DEPENDS ${ZURODID_ICON_SOURCE}
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND ZURODID_ICON_FILES ${png})
endforeach()
add_custom_target(zurodid-icons ALL DEPENDS ${ZURODID_ICON_FILES})

# The size the executable carries for its tray icon and windows.
set(ZURODID_ICON_32 ${ZURODID_ICON_THEME_DIR}/32x32/apps/zurodid-agent.png)
