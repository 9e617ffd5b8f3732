# Runs lupdate over the folders whose texts each translation holds.
#
#   cmake -DLUPDATE=lupdate -DSOURCE_DIR=<tree> -DMODE=update -P lupdate.cmake
#       updates translations/*.ts in the tree (what kv_lupdate does);
#   cmake -DLUPDATE=lupdate -DSOURCE_DIR=<tree> -DMODE=check -DWORK_DIR=<dir> [-DTS_DIR=<dir>] -P lupdate.cmake
#       updates copies in WORK_DIR and fails when any message there has no
#       finished translation: a text marked in the code but missing from the
#       .ts file, or one left unfinished in it.
#
# kvsetup_en.ts: every Hungarian text of the window, the link panel, the
# status texts and settings captions (common/), the wizards (device/) and
# kvctl. kvsetup_hu.ts: the certificate's English headings (station/).
foreach(_var LUPDATE SOURCE_DIR MODE)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "lupdate.cmake: ${_var} is not set")
  endif()
endforeach()
# TS_DIR: where the .ts files are (the tree's translations/ unless a test
# checks copies of its own).
if(NOT DEFINED TS_DIR)
  set(TS_DIR ${SOURCE_DIR}/translations)
endif()

set(_en_folders app link common device cli)
set(_hu_folders station)

set(_failed 0)
foreach(_lang en hu)
  set(_ts ${TS_DIR}/kvsetup_${_lang}.ts)
  set(_folders)
  foreach(_f ${_${_lang}_folders})
    list(APPEND _folders ${SOURCE_DIR}/${_f})
  endforeach()
  if(MODE STREQUAL "check")
    # Always a fresh copy: file(COPY) skips a file whose time stamp matches.
    file(MAKE_DIRECTORY ${WORK_DIR})
    file(COPY_FILE ${_ts} ${WORK_DIR}/kvsetup_${_lang}.ts)
    set(_ts ${WORK_DIR}/kvsetup_${_lang}.ts)
  endif()
  execute_process(
    COMMAND ${LUPDATE} -silent -no-obsolete -locations relative -extensions cpp,h,ui ${_folders} -ts ${_ts}
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${_ts}:\n${_out}${_err}")
  endif()
  if(_err)
    # Texts lupdate cannot take (a tr() it cannot place) are mistakes too.
    message(SEND_ERROR "lupdate on kvsetup_${_lang}.ts:\n${_err}")
    set(_failed 1)
  endif()
  if(MODE STREQUAL "check")
    file(READ ${_ts} _text)
    string(REGEX MATCHALL "<message[^>]*>[^<]*(<location[^>]*>[^<]*)*<source>[^<]*</source>[^<]*(<comment>[^<]*</comment>[^<]*)?(<extracomment>[^<]*</extracomment>[^<]*)?(<translatorcomment>[^<]*</translatorcomment>[^<]*)?<translation type=\"unfinished\"" _unfinished "${_text}")
    string(REGEX MATCHALL "<source>" _all "${_text}")
    string(REGEX MATCHALL "type=\"unfinished\"" _marks "${_text}")
    list(LENGTH _marks _n)
    list(LENGTH _all _total)
    message(STATUS "kvsetup_${_lang}.ts: ${_total} messages, ${_n} unfinished")
    if(_n GREATER 0)
      set(_failed 1)
      foreach(_m ${_unfinished})
        string(REGEX REPLACE ".*<source>([^<]*)</source>.*" "\\1" _source "${_m}")
        message(STATUS "  unfinished: ${_source}")
      endforeach()
    endif()
  endif()
endforeach()
if(_failed)
  message(FATAL_ERROR "translations are incomplete: run the kv_lupdate target and translate what it marks unfinished (Qt Linguist)")
endif()
