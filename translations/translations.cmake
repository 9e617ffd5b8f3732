# The programs' translations (common/Language.h). The .ts files are the
# sources, edited with Qt Linguist; lrelease compiles them at build time and
# the .qm files are built into kv_lang as resources (:/kv/translations/).
#
#   cmake --build --preset dev --target kv_lupdate   brings the .ts files up
#                                                    to date with the code
#   test translations_complete                       fails while a marked text
#                                                    has no translation
set(KV_TS_FILES
  ${CMAKE_SOURCE_DIR}/translations/kvsetup_en.ts
  ${CMAKE_SOURCE_DIR}/translations/kvsetup_hu.ts
)
qt_add_lrelease(kv_lang TS_FILES ${KV_TS_FILES} QM_FILES_OUTPUT_VARIABLE _kv_qm_files NO_GLOBAL_TARGET)
qt_add_resources(kv_lang kv_translations
  PREFIX /kv/translations
  BASE ${CMAKE_CURRENT_BINARY_DIR}
  FILES ${_kv_qm_files})

set(KV_LUPDATE_SCRIPT ${CMAKE_SOURCE_DIR}/translations/lupdate.cmake)
add_custom_target(kv_lupdate
  COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:Qt6::lupdate> -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DMODE=update
          -P ${KV_LUPDATE_SCRIPT}
  COMMENT "Bringing translations/*.ts up to date with the marked texts"
  VERBATIM)
