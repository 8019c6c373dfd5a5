# The same sources built in another folder minutes later make the same Debian package, .exe and zip, byte for byte:
# the source release is unpacked into WORK and built there by tools/windows.sh and tools/package.sh, as they built this
# tree's. The release has no git, so it is given the time stamp that this tree's scripts took from git.
# Run from the tree's top, after tools/windows.sh and tools/package.sh, as cmake -DWORK=<scratch> -P reproducible.cmake.
execute_process(COMMAND bash -c ". tools/common.sh && set_source_date_epoch && echo $SOURCE_DATE_EPOCH"
  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND tools/release.sh OUTPUT_VARIABLE said COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "build-release/quarrow-([0-9.]+)\\.tar\\.gz" release "${said}")
set(version ${CMAKE_MATCH_1})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND tar -xzf ${CMAKE_CURRENT_SOURCE_DIR}/${release} -C ${WORK} COMMAND_ERROR_IS_FATAL ANY)
foreach(script windows package)
  execute_process(COMMAND env SOURCE_DATE_EPOCH=${epoch} tools/${script}.sh WORKING_DIRECTORY ${WORK}/quarrow-${version}
    OUTPUT_QUIET TIMEOUT 1800 COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(same TRUE)
foreach(file build-deb/quarrow_${version}_amd64.deb build-windows/quarrow.exe build-windows/quarrow-${version}-windows.zip)
  file(SHA256 ${file} sum)
  file(SIZE ${file} size)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${WORK}/quarrow-${version}/${file} RESULT_VARIABLE differ)
  if(differ)
    message(SEND_ERROR "${file} differs from the one built in ${WORK}")
    set(same FALSE)
  else()
    message(STATUS "${file}: the same ${size} bytes in both, SHA-256 ${sum}")
  endif()
endforeach()
if(same)
  file(REMOVE_RECURSE ${WORK})
endif()
