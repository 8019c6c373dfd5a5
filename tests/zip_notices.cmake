# Every library linked into quarrow.exe has its notice in the zip: each archive the link's map took members from, and
# each start-up object it loaded, is matched to the notice it needs, which must be in the zip and say what it covers.
# A library with no known notice fails too, and so does a notice without Windows line ends. Run as cmake -DMAP=<quarrow.map> -DZIP=<zip> -DWORK=<scratch> -P zip_notices.cmake.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
file(GLOB folder ${WORK}/*)
# Each library by its file's name: the notice it needs, and words that notice must hold.
set(notices
  "^(objects|libquarrow_game)\\.a$" LICENSE.txt "the Quarrow developers"
  "^liballeg\\.a$" licenses/Allegro.txt "Allegro is gift-ware"
  "^lib(win)?pthread\\.a$" licenses/winpthreads.txt "2011-2016 mingw-w64 project.*License: expat.*Lockless Inc\\."
  "^(crt2\\.o|lib(mingw32|mingwex|msvcrt|kernel32|user32|gdi32|ole32|comdlg32|winmm|ddraw|dinput|dsound|dxguid)\\.a)$"
  licenses/mingw-w64.txt "Files: \\*\nCopyright: [0-9-]+ the mingw-w64 project\nLicense: ZPL-2.1"
  "^(libstdc\\+\\+|libgcc|libgcc_eh)\\.a$|^crt(begin|end)\\.o$" licenses/GCC-runtime.txt
  "libstdc\\+\\+ and libgcc.*GCC RUNTIME LIBRARY EXCEPTION")
file(STRINGS ${MAP} lines REGEX "^[^ ]+\\.a\\(|^LOAD [^ ]+\\.o$")
set(libraries "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^LOAD |\\(.*" "" path "${line}")
  get_filename_component(name "${path}" NAME)
  list(APPEND libraries "${name}")
endforeach()
list(REMOVE_DUPLICATES libraries)
list(LENGTH notices count)
math(EXPR last "${count} - 1")
foreach(library IN LISTS libraries)
  set(needs "")
  foreach(i RANGE 0 ${last} 3)
    list(GET notices ${i} pattern)
    if(library MATCHES "${pattern}" AND NOT needs)
      math(EXPR i "${i} + 1")
      list(GET notices ${i} needs)
      math(EXPR i "${i} + 1")
      list(GET notices ${i} words)
    endif()
  endforeach()
  if(NOT needs)
    message(SEND_ERROR "${library}: no notice is known for it")
  elseif(NOT EXISTS ${folder}/${needs})
    message(SEND_ERROR "${library}: the zip lacks ${needs}")
  else()
    file(READ ${folder}/${needs} text) # which drops the CRs
    execute_process(COMMAND grep -c -v "\r$" ${folder}/${needs} OUTPUT_VARIABLE bare OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT bare EQUAL 0)
      message(SEND_ERROR "${library}: ${needs} has ${bare} lines that do not end in CR LF")
    elseif(NOT text MATCHES "${words}")
      message(SEND_ERROR "${library}: ${needs} does not say \"${words}\"")
    else()
      message(STATUS "${library}: ${needs}")
    endif()
  endif()
endforeach()
