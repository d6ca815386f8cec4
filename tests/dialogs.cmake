kq_add_test(dialog_standin_tests SOURCES
  resources_test.cpp
  dialog_service_test.cpp
  LIBS simhost HOST)
kq_add_test(dialog_tests SOURCES
  options_dialog_test.cpp
  preset_controls_test.cpp
  LIBS simhost HOST)
