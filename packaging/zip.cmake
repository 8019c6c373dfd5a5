# The Windows zip for players: the game, linked with every library inside it but the system's own, its data files,
# how to play it and the licence.
target_link_options(quarrow PRIVATE -static)
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
install(TARGETS quarrow RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/map.txt data/untitled.bmp ${CMAKE_BINARY_DIR}/README.txt
  ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME quarrow-${PROJECT_VERSION}-windows)
