# Run as a script (cmake -DIN=... -DOUT=... -DSIZES=16,32 -P icon.cmake): writes the C header OUT, the icon's pixels
# in each of SIZES as the BGRA bytes that ImageMagick wrote into IN, for the window's _NET_WM_ICON.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ ${IN} bytes HEX)
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${bytes}")
  file(WRITE ${OUT} "static const int quarrowSizes[] = {${SIZES}};\nstatic const unsigned char quarrowPixels[] = {${bytes}};\n")
  return()
endif()

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

# Makes the C header `output` of the icon in each of the sizes that follow, as the script above writes it.
function(quarrow_icon_header output)
  set(clones)
  foreach(size ${ARGN})
    list(APPEND clones "(" -clone 0 -resize ${size}x${size} ")")
  endforeach()
  quarrow_icon(${output}.bgra ${clones} -delete 0 -depth 8)
  string(REPLACE ";" "," sizes "${ARGN}")
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DIN=${output}.bgra -DOUT=${output} -DSIZES=${sizes} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    DEPENDS ${output}.bgra ${CMAKE_CURRENT_FUNCTION_LIST_FILE} VERBATIM)
endfunction()
