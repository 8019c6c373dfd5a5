# What `cmake --install` lays out for players on Linux, in the folders GNUInstallDirs names, so that a packager picks
# the layout with the usual variables: the launcher in BINDIR, the game itself out of the PATH in
# LIBEXECDIR/quarrow, the shipped map and sheet in DATADIR/quarrow, the menu entry, icons, man page, software
# centres' entry and the players' text where desktops look for them. The Debian package is made from these rules.
include(GNUInstallDirs)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(out ${PROJECT_BINARY_DIR}/packaging)
find_program(GZIP gzip REQUIRED)

# Where the game and its files go, and the way there from the launcher's folder, which the launcher follows so
# that it starts the game from wherever the tree was installed or unpacked (a DESTDIR too).
set(QUARROW_GAME_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quarrow)
set(QUARROW_SHIPPED_DIR ${CMAKE_INSTALL_DATADIR}/quarrow)
set(QUARROW_GAME ${CMAKE_INSTALL_FULL_LIBEXECDIR}/quarrow/quarrow)
set(QUARROW_SHIPPED ${CMAKE_INSTALL_FULL_DATADIR}/quarrow)
file(RELATIVE_PATH QUARROW_GAME_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${QUARROW_GAME})
file(RELATIVE_PATH QUARROW_SHIPPED_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${QUARROW_SHIPPED})
set(QUARROW_DOC ${CMAKE_INSTALL_FULL_DOCDIR})

# The licence ships as Debian's copyright file in the package, as the plain LICENSE elsewhere.
option(QUARROW_DEB "Package the game for Debian" OFF)
if(QUARROW_DEB)
  set(QUARROW_LICENSE copyright)
else()
  set(QUARROW_LICENSE LICENSE)
endif()

# The newest entry of the change history and of the software centres' entry must be for the version built.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGES.txt newest REGEX "^[0-9]" LIMIT_COUNT 1)
if(NOT newest MATCHES "^${PROJECT_VERSION} \\(([0-9-]+)\\)$")
  message(FATAL_ERROR "CHANGES.txt: the newest entry is not \"${PROJECT_VERSION} (YYYY-MM-DD)\"")
endif()
set(QUARROW_DATE ${CMAKE_MATCH_1})
set(metainfo ${pkg}/invalid.quarrow.quarrow.metainfo.xml)
file(STRINGS ${metainfo} newest REGEX "<release " LIMIT_COUNT 1)
if(NOT newest MATCHES "<release version=\"${PROJECT_VERSION}\" ")
  message(FATAL_ERROR "${metainfo}: the newest release is not version ${PROJECT_VERSION}")
endif()

configure_file(${pkg}/quarrow.sh ${out}/quarrow @ONLY)
configure_file(${pkg}/quarrow.desktop ${out}/quarrow.desktop @ONLY)
configure_file(${pkg}/quarrow.6.in ${out}/quarrow.6 @ONLY)
# The players' text, as the package's README; compressed, as Debian compresses documents of more than 4 KiB. gzip -n
# stores no name or time, so the same sources make the same files.
configure_file(${PROJECT_SOURCE_DIR}/docs/linux-players.md ${out}/README.md COPYONLY)
set(gzipped ${out}/quarrow.6.gz ${out}/README.md.gz)
# gzip gives each output its input's time: touched, so that they count as made.
add_custom_command(OUTPUT ${gzipped} COMMAND ${GZIP} -9nkf ${out}/quarrow.6 ${out}/README.md
  COMMAND ${CMAKE_COMMAND} -E touch ${gzipped} DEPENDS ${out}/quarrow.6 ${out}/README.md VERBATIM)

# The menu's icons, in the sizes desktops look for.
set(icons)
foreach(size 16 32 48 64 128 256)
  set(dir ${out}/icons/${size}x${size})
  quarrow_icon(${dir}/quarrow.png -resize ${size}x${size})
  list(APPEND icons ${dir}/quarrow.png)
  install(FILES ${dir}/quarrow.png DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(install_files ALL DEPENDS ${icons} ${gzipped})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS quarrow RUNTIME DESTINATION ${QUARROW_GAME_DIR})
install(PROGRAMS ${out}/quarrow DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/map.txt ${PROJECT_SOURCE_DIR}/data/untitled.bmp
  DESTINATION ${QUARROW_SHIPPED_DIR})
install(FILES ${out}/quarrow.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${out}/quarrow.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${out}/README.md.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(QUARROW_DEB)
  include(${pkg}/deb.cmake)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
