# The setup program: kv_app holds the main window and everything but the
# entry, so that tests and benchmarks build the same window; kvsetup is the
# entry. The layouts are Qt Designer files, compiled here (not by AUTOUIC) so
# that the generated headers sit in one known folder for every user of Main.h.
set(KV_APP_UI
  ${CMAKE_CURRENT_LIST_DIR}/Main.ui
  ${CMAKE_CURRENT_LIST_DIR}/Settings.ui
  ${CMAKE_CURRENT_LIST_DIR}/DeveloperTool.ui
  ${CMAKE_CURRENT_LIST_DIR}/InputCalibration.ui
  ${CMAKE_CURRENT_LIST_DIR}/OutputCalibration.ui
  ${CMAKE_CURRENT_LIST_DIR}/Piszkozat.ui
)
qt6_wrap_ui(KV_APP_UI_HEADERS ${KV_APP_UI})

add_library(kv_app STATIC
  ${KV_APP_UI} ${KV_APP_UI_HEADERS}
  ${CMAKE_CURRENT_LIST_DIR}/AppStyle.cpp ${CMAKE_CURRENT_LIST_DIR}/AppStyle.h
  ${CMAKE_CURRENT_LIST_DIR}/CalibrationLog.cpp ${CMAKE_CURRENT_LIST_DIR}/CalibrationLog.h
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandLine.h
  ${CMAKE_CURRENT_LIST_DIR}/LazyFileDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/LazyPicture.cpp ${CMAKE_CURRENT_LIST_DIR}/LazyPicture.h
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/Main.h
  ${CMAKE_CURRENT_LIST_DIR}/MainConnect.cpp
  # Poll cycle and device commands; device settings
  ${CMAKE_CURRENT_LIST_DIR}/MainPoll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainSettingsFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainShell.cpp
  # Status display and developer page
  ${CMAKE_CURRENT_LIST_DIR}/MainStatus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainDeveloper.cpp
  # The calibration wizards' pages; their step tables and arithmetic are in device/
  ${CMAKE_CURRENT_LIST_DIR}/MainInputCalibration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KeyPressFilter.h
  ${CMAKE_CURRENT_LIST_DIR}/MainOutputCalibration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Piszkozat.cpp ${CMAKE_CURRENT_LIST_DIR}/Piszkozat.h
  ${CMAKE_CURRENT_LIST_DIR}/RadioGroup.cpp ${CMAKE_CURRENT_LIST_DIR}/RadioGroup.h
  ${CMAKE_CURRENT_LIST_DIR}/SpeedButton.cpp ${CMAKE_CURRENT_LIST_DIR}/SpeedButton.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowFit.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowFit.h
)
set_target_properties(kv_app PROPERTIES AUTOUIC OFF)
target_include_directories(kv_app PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(kv_app PRIVATE KV_INSTALL_BINDIRS="${CMAKE_INSTALL_FULL_BINDIR}:/usr/${CMAKE_INSTALL_BINDIR}")
target_link_libraries(kv_app PUBLIC Qt6::Widgets kv_common kv_lang kv_records kv_status kv_ini kv_settings kv_device kv_link kv_link_port kv_bargraph kv_pictures
                             PRIVATE kv_version)

add_executable(kvsetup ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(kvsetup PROPERTIES AUTOUIC OFF)
target_link_libraries(kvsetup PRIVATE kv_app)

install(TARGETS kvsetup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
