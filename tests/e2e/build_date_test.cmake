# The banner's build date (cmake/BuildDate.cmake): SOURCE_DATE_EPOCH first,
# then a release tarball's recorded commit time; the format of __DATE__ and
# __TIME__ in UTC (the day right-aligned, English month names).
#   cmake -DSOURCE_DIR=<project> -DWORK=<scratch dir> -P build_date_test.cmake
set(script "${SOURCE_DIR}/cmake/BuildDate.cmake")
set(header "${WORK}/BuildDate.h")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/release/cmake")
set(failures 0)

function(expect epoch source expected)
  if(epoch STREQUAL "")
    set(environment --unset=SOURCE_DATE_EPOCH)
  else()
    set(environment SOURCE_DATE_EPOCH=${epoch})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment}
                          ${CMAKE_COMMAND} -DSOURCE_DIR=${source} -DOUTPUT=${header} -P ${script}
                  RESULT_VARIABLE status)
  file(STRINGS "${header}" lines REGEX "^#define")
  string(REGEX REPLACE "#define ZEVA_BUILD_(DATE|TIME) \"([^\"]*)\"" "\\2" got "${lines}")
  string(REPLACE ";" " " got "${got}")
  if(NOT status EQUAL 0 OR NOT got STREQUAL expected)
    message(SEND_ERROR "epoch '${epoch}' in ${source}: '${got}', expected '${expected}'")
  endif()
endfunction()

expect(0 "${WORK}" "Jan  1 1970 00:00:00")
expect(1786290296 "${WORK}" "Aug  9 2026 15:44:56")
expect(1792972800 "${WORK}" "Oct 26 2026 00:00:00")
expect(1798761599 "${SOURCE_DIR}" "Dec 31 2026 23:59:59")  # wins over git
file(WRITE "${WORK}/release/cmake/source-date" "1786290296\n")
expect("" "${WORK}/release" "Aug  9 2026 15:44:56")
file(REMOVE_RECURSE "${WORK}")
