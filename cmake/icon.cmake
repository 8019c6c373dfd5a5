# The game's icon, for the window, the menu and Windows' Explorer: src/icon.png, the four terrain tiles (48 to 51)
# of the shipped sheet two by two, enlarged by whole pixels first so that the large sizes stay sharp. It is a file
# of its own, so that an edited sheet in the folder the game is played in changes no build.
find_program(CONVERT convert REQUIRED)

# Makes `output` (its format by its ending) from the icon, finished by the ImageMagick options that follow (a size,
# the format's settings). No date chunks, so that the same sources make the same files.
function(quarrow_icon output)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CONVERT} ${PROJECT_SOURCE_DIR}/src/icon.png -scale 400% ${ARGN} -strip
      -define png:exclude-chunks=date,time ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/src/icon.png VERBATIM)
endfunction()
