# The Debian package, laid out as Debian lays out games: the launcher in /usr/games, the game itself
# out of the PATH in /usr/lib/games/quarrow, its data in /usr/share/games/quarrow.
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(out ${PROJECT_BINARY_DIR}/packaging)
find_program(GZIP gzip REQUIRED)

# The changelog's newest entry must be for the version packaged.
file(STRINGS ${pkg}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^quarrow \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not for version ${PROJECT_VERSION}")
endif()
# So must the software centres' entry's newest release, which comes first.
set(metainfo ${pkg}/invalid.quarrow.quarrow.metainfo.xml)
file(STRINGS ${metainfo} newest REGEX "<release " LIMIT_COUNT 1)
if(NOT newest MATCHES "<release version=\"${PROJECT_VERSION}\" ")
  message(FATAL_ERROR "${metainfo}: the newest release is not version ${PROJECT_VERSION}")
endif()

# gzip -n stores no name or time, so the same sources make the same package.
configure_file(${pkg}/quarrow.6.in ${out}/quarrow.6 @ONLY)
configure_file(${pkg}/changelog ${out}/changelog COPYONLY)
add_custom_command(OUTPUT ${out}/quarrow.6.gz ${out}/changelog.gz
  COMMAND ${GZIP} -9nkf ${out}/quarrow.6 ${out}/changelog
  DEPENDS ${out}/quarrow.6 ${out}/changelog VERBATIM)
# The players' text, as the package's README; compressed, as Debian compresses documents of more than 4 KiB.
configure_file(${PROJECT_SOURCE_DIR}/docs/linux-players.md ${out}/README.md COPYONLY)
add_custom_command(OUTPUT ${out}/README.md.gz COMMAND ${GZIP} -9nkf ${out}/README.md DEPENDS ${out}/README.md VERBATIM)
add_custom_target(players_text ALL DEPENDS ${out}/README.md.gz)

# The menu's icons, in the sizes desktops look for.
set(icons)
foreach(size 16 32 48 64 128 256)
  set(dir ${out}/icons/${size}x${size})
  quarrow_icon(${dir}/quarrow.png -resize ${size}x${size})
  list(APPEND icons ${dir}/quarrow.png)
  install(FILES ${dir}/quarrow.png DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(package_files ALL DEPENDS ${icons} ${out}/quarrow.6.gz ${out}/changelog.gz)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS quarrow RUNTIME DESTINATION lib/games/quarrow)
install(PROGRAMS ${pkg}/quarrow.sh DESTINATION games RENAME quarrow)
install(FILES ${PROJECT_SOURCE_DIR}/data/map.txt ${PROJECT_SOURCE_DIR}/data/untitled.bmp
  DESTINATION share/games/quarrow)
install(FILES ${pkg}/quarrow.desktop DESTINATION share/applications)
install(FILES ${metainfo} DESTINATION share/metainfo)
install(FILES ${out}/README.md.gz DESTINATION share/doc/quarrow)
install(FILES ${out}/quarrow.6.gz DESTINATION share/man/man6)
install(FILES ${pkg}/copyright ${out}/changelog.gz DESTINATION share/doc/quarrow)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quarrow Dev <dev@quarrow.invalid>")
# Depends is read from the libraries the game links, with dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xmessage shows the game's "Map failed to load!" box and the launcher's box for a failed start. Without it both
# are printed instead and the game plays as well, so it is recommended (installed by default), not required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS x11-utils)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small tile map scroller")
set(CPACK_PACKAGE_DESCRIPTION "Quarrow shows a map of 24 by 24 tiles in a 640 by 480 window and scrolls it
with the arrow keys; Escape quits. Each player's map, tile sheet and log are
kept in a folder of their own, ~/.local/share/quarrow, where the map and the
tiles can be edited.")
