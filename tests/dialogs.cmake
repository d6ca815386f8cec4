kq_add_test(dialog_standin_tests SOURCES
  resources_test.cpp
  dialog_service_test.cpp
  LIBS simhost)
kq_add_test(dialog_tests SOURCES
  options_dialog_test.cpp
  preset_controls_test.cpp
  LIBS simhost)
# The plug-in calls the host functions that simhost defines: link it after kqplugin.
target_link_libraries(dialog_standin_tests PRIVATE kqplugin simhost)
target_link_libraries(dialog_tests PRIVATE kqplugin simhost)
