# Copies the .ts files, takes the translation of one message away ("Lépés
# %1:" in kvsetup_en.ts), runs the completeness check on the copies and
# succeeds only when the check fails and names that message.
set(_dir ${WORK_DIR}/translations)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${_dir})
file(COPY ${SOURCE_DIR}/translations/kvsetup_en.ts ${SOURCE_DIR}/translations/kvsetup_hu.ts DESTINATION ${_dir})
file(READ ${_dir}/kvsetup_en.ts _text)
string(REGEX REPLACE "(<source>Lépés %1:</source>[ \n\r\t]*)<translation>[^<]*</translation>"
       "\\1<translation type=\"unfinished\"></translation>" _dropped "${_text}")
if(_dropped STREQUAL _text)
  message(FATAL_ERROR "the message to drop is not in kvsetup_en.ts")
endif()
file(WRITE ${_dir}/kvsetup_en.ts "${_dropped}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -DLUPDATE=${LUPDATE} -DSOURCE_DIR=${SOURCE_DIR} -DTS_DIR=${_dir} -DMODE=check
          -DWORK_DIR=${WORK_DIR}/check -P ${SOURCE_DIR}/translations/lupdate.cmake
  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
if(_rc EQUAL 0)
  message(FATAL_ERROR "the check passed with a translation missing:\n${_out}${_err}")
endif()
if(NOT "${_out}${_err}" MATCHES "unfinished: Lépés %1:")
  message(FATAL_ERROR "the check failed without naming the missing translation:\n${_out}${_err}")
endif()
message(STATUS "the check failed as it should:\n${_out}")
