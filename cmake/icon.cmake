# The game's icon, for the window, the menu and Windows' Explorer: the four terrain tiles (48 to 51) of the
# shipped sheet, two by two, enlarged by whole pixels first so that the large sizes stay sharp.
find_program(CONVERT convert REQUIRED)

# Makes `output` (its format by its ending) from the icon, finished by the ImageMagick options that follow (a size,
# the format's settings). No date chunks, so that the same sources make the same files.
function(quarrow_icon output)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CONVERT} ${PROJECT_SOURCE_DIR}/data/untitled.bmp
      "(" -clone 0 -crop 100x50+2400+0 ")" "(" -clone 0 -crop 100x50+2500+0 ")" -delete 0 -append +repage
      -scale 400% ${ARGN} -strip -define png:exclude-chunks=date,time ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/untitled.bmp VERBATIM)
endfunction()
