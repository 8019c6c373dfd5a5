# What only the Debian package carries besides the install rules: the copyright file in Debian's format, the
# change history as a Debian changelog, and the package's own fields.

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quarrow Dev <dev@quarrow.invalid>")

# Each entry of CHANGES.txt ("0.1 (2026-12-07)" and its lines) becomes an entry of Debian's changelog, dated at noon.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGES.txt lines)
set(changelog "")
set(date "")
foreach(line IN LISTS lines ITEMS "")
  if(line MATCHES "^([0-9.]+) \\(([0-9-]+)\\)$")
    set(version ${CMAKE_MATCH_1})
    execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00" OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    string(APPEND changelog "quarrow (${version}) unstable; urgency=medium\n\n")
  elseif(date AND line MATCHES "^  ")
    string(APPEND changelog "${line}\n")
  elseif(date)
    string(APPEND changelog "\n -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}\n\n")
    set(date "")
  endif()
endforeach()
string(STRIP "${changelog}" changelog)
file(WRITE ${out}/changelog "${changelog}\n")
add_custom_command(OUTPUT ${out}/changelog.gz COMMAND ${GZIP} -9nkf ${out}/changelog
  COMMAND ${CMAKE_COMMAND} -E touch ${out}/changelog.gz DEPENDS ${out}/changelog VERBATIM)
add_custom_target(deb_files ALL DEPENDS ${out}/changelog.gz)
install(FILES ${pkg}/copyright ${out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
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
