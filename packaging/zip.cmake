# The Windows zip for players: the game, linked with every library inside it but the system's own, its data files,
# how to play it, the licence and the notices of the libraries inside the game. The link's map names the archives
# it took members from, which the zip_notices test matches against the notices.
target_link_options(quarrow PRIVATE -static -Wl,-Map=${CMAKE_BINARY_DIR}/quarrow.map)
# Its icon (for its window, which the library loads by the name allegro_icon, and for Explorer) and the version
# Explorer shows.
enable_language(RC)
quarrow_icon(${CMAKE_BINARY_DIR}/quarrow.ico -define icon:auto-resize=256,48,32,16)
configure_file(src/quarrow.rc.in quarrow.rc @ONLY)
target_sources(quarrow PRIVATE ${CMAKE_BINARY_DIR}/quarrow.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/quarrow.rc PROPERTIES OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/quarrow.ico)
# Its texts and map get Windows line ends, which every Notepad shows as lines; the game reads either.
configure_file(docs/windows-players.txt README.txt @ONLY NEWLINE_STYLE WIN32)
configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE WIN32)
configure_file(data/map.txt map.txt @ONLY NEWLINE_STYLE WIN32)

# The libraries' notices, in licenses/: Allegro's licence from its source (tools/windows.sh keeps it beside the
# library), and the runtime's from the copyright files of the Debian packages holding the archives linked: mingw-w64's
# whole, the part of it on winpthreads, and the exception of GCC's runtime (libstdc++, libgcc).
set(mingw_copyright /usr/share/doc/mingw-w64-x86-64-dev/copyright)
set(gcc_copyright /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${mingw_copyright} ${gcc_copyright}
  ${QUARROW_ALLEGRO_DIR}/license._tx)
function(notice name intro)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" "\r\n" text "${intro}\n\n${text}")
  file(WRITE ${CMAKE_BINARY_DIR}/licenses/${name}.txt "${text}")
endfunction()
notice(Allegro "The Allegro 4.4 game library, inside quarrow.exe, comes under this licence (from its source):"
  sed /^@/d ${QUARROW_ALLEGRO_DIR}/license._tx)
notice(mingw-w64 "The mingw-w64 runtime, inside quarrow.exe, comes under the Zope Public License 2.1 (ZPL-2.1) below,\
 its parts under the notices that follow it, as Debian's copyright file of mingw-w64 gives them:"
  cat ${mingw_copyright})
notice(winpthreads "winpthreads, mingw-w64's POSIX threads library inside quarrow.exe, comes under these notices\
 (from Debian's copyright file of mingw-w64):"
  awk -v RS= "/^Files: mingw-w64-libraries\\/winpthreads\\/[*i]|^License: expat/ { print $0 \"\\n\" }" ${mingw_copyright})
notice(GCC-runtime "libstdc++ and libgcc, GCC's runtime libraries inside quarrow.exe, come under the GNU General Public\
 License, version 3, with the GCC Runtime Library Exception, version 3.1, which lets them be linked into a program\
 under that program's own terms. The exception (from Debian's copyright file of GCC for mingw-w64):"
  sed -n "/^GCC RUNTIME LIBRARY EXCEPTION/,/license of GCC\\.$/p" ${gcc_copyright})

install(TARGETS quarrow RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/map.txt data/untitled.bmp ${CMAKE_BINARY_DIR}/README.txt
  ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
install(DIRECTORY ${CMAKE_BINARY_DIR}/licenses DESTINATION .)
# tools/windows.sh packs what this lays out, as quarrow-<version>-windows.zip.
