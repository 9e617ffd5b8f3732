# What the window brings to a desktop when installed: its menu entry with the
# icon and the AppStream description under the names of the desktop id, and
# kvsetup-sim, the menu entry's second action (the window against kvsim).
set(KV_DESKTOP_DIR ${CMAKE_CURRENT_LIST_DIR}/desktop)
install(FILES ${KV_DESKTOP_DIR}/hu.varnel.kvsetup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KV_DESKTOP_DIR}/hu.varnel.kvsetup.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KV_DESKTOP_DIR}/hu.varnel.kvsetup.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(PROGRAMS ${KV_DESKTOP_DIR}/kvsetup-sim.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME kvsetup-sim)

# The icon as PNG too: Qt reads SVG icons only with its SVG plugin, which a
# plain Qt install lacks, and menus and docks of several desktops want the
# fixed sizes. Rendered from the SVG at build time; the package build asks for
# them (KV_PNG_ICONS=ON), elsewhere they are made when rsvg-convert is there.
option(KV_PNG_ICONS "Fail when rsvg-convert (Debian: librsvg2-bin) cannot render the PNG icons" OFF)
find_program(KV_RSVG_CONVERT rsvg-convert)
if(KV_RSVG_CONVERT)
  set(_kv_pngs)
  foreach(_size 16 24 32 48 64 128 256)
    set(_png ${CMAKE_CURRENT_BINARY_DIR}/icons/${_size}x${_size}/hu.varnel.kvsetup.png)
    add_custom_command(OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${_size}x${_size}
      COMMAND ${KV_RSVG_CONVERT} --width=${_size} --height=${_size} --output=${_png} ${KV_DESKTOP_DIR}/hu.varnel.kvsetup.svg
      DEPENDS ${KV_DESKTOP_DIR}/hu.varnel.kvsetup.svg
      VERBATIM)
    list(APPEND _kv_pngs ${_png})
    install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
  endforeach()
  add_custom_target(kv_icons ALL DEPENDS ${_kv_pngs})
elseif(KV_PNG_ICONS)
  message(FATAL_ERROR "rsvg-convert not found (Debian: apt-get install librsvg2-bin): the PNG icons cannot be made")
else()
  message(STATUS "rsvg-convert not found (Debian: librsvg2-bin): only the SVG icon is installed")
endif()
