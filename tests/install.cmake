# The source release as a distribution's tooling builds it, with no network and no git: it builds and passes the
# unit tests, then installs in two layouts, GNUInstallDirs' defaults under /usr/local and Debian's games layout
# under /usr, each into a DESTDIR tree of its own. Every file a player needs must be there and nothing else; the
# menu entry and man page must name the chosen folders; and the installed launcher, run from the tree, must start
# the game (with no display, which the game itself then reports).
# Run as cmake -DSOURCE=<unpacked release> -DWORK=<scratch folder> -P install.cmake.
file(REMOVE_RECURSE ${WORK})
if(EXISTS ${SOURCE}/.git)
  message(FATAL_ERROR "${SOURCE} is a git checkout, not an unpacked release")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DBUILD_TESTING=ON OUTPUT_QUIET
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build --target sheet_tests OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${WORK}/build -L unit --no-tests=error OUTPUT_VARIABLE said
  RESULT_VARIABLE failed)
if(failed)
  message(SEND_ERROR "The unit tests failed in the release:\n${said}")
endif()
set(icons "")
foreach(size 16 32 48 64 128 256)
  list(APPEND icons share/icons/hicolor/${size}x${size}/apps/quarrow.png)
endforeach()
set(common share/applications/quarrow.desktop share/man/man6/quarrow.6.gz share/metainfo/invalid.quarrow.quarrow.metainfo.xml
  share/doc/quarrow/LICENSE share/doc/quarrow/README.md.gz ${icons})

function(check prefix bindir datadir libexecdir)
  set(root ${WORK}/root${prefix})
  # Without the tests, nothing of theirs is looked for.
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=${prefix}
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON
    -DCMAKE_INSTALL_BINDIR=${bindir} -DCMAKE_INSTALL_DATADIR=${datadir} -DCMAKE_INSTALL_LIBEXECDIR=${libexecdir}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${WORK}/root ${CMAKE_COMMAND} --install ${WORK}/build
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  set(expected ${bindir}/quarrow ${libexecdir}/quarrow/quarrow ${datadir}/quarrow/map.txt ${datadir}/quarrow/untitled.bmp
    ${common})
  list(SORT expected)
  file(GLOB_RECURSE found RELATIVE ${root} ${root}/*)
  list(SORT found)
  if(NOT found STREQUAL expected)
    message(SEND_ERROR "${prefix}: installed\n  ${found}\nnot\n  ${expected}")
  endif()
  file(READ ${root}/share/applications/quarrow.desktop desktop)
  if(NOT desktop MATCHES "\nExec=${prefix}/${bindir}/quarrow\n")
    message(SEND_ERROR "${prefix}: the menu entry does not start ${prefix}/${bindir}/quarrow:\n${desktop}")
  endif()
  execute_process(COMMAND gzip -dc ${root}/share/man/man6/quarrow.6.gz OUTPUT_VARIABLE man)
  foreach(path ${prefix}/${libexecdir}/quarrow/quarrow ${prefix}/${datadir}/quarrow/ ${prefix}/share/doc/quarrow/LICENSE)
    string(FIND "${man}" "\n.I ${path}" at)
    string(FIND "${man}" "\n.IR ${path}" atR)
    if(at EQUAL -1 AND atR EQUAL -1)
      message(SEND_ERROR "${prefix}: the man page does not name ${path}")
    endif()
  endforeach()
  execute_process(COMMAND env -u DISPLAY -u XDG_DATA_HOME HOME=${WORK}/home ${root}/${bindir}/quarrow
    RESULT_VARIABLE status ERROR_VARIABLE said TIMEOUT 60)
  if(NOT status EQUAL 1 OR NOT said MATCHES "^Allegro: DISPLAY is not set")
    message(SEND_ERROR "${prefix}: the launcher ended with ${status}, saying:\n${said}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE}/data/map.txt ${WORK}/home/.local/share/quarrow/map.txt
    RESULT_VARIABLE differs)
  if(differs)
    message(SEND_ERROR "${prefix}: the launcher did not copy the shipped map into the player's folder")
  endif()
  file(REMOVE_RECURSE ${WORK}/root ${WORK}/home)
endfunction()

check(/usr/local bin share libexec)
check(/usr games share/games lib/games)
