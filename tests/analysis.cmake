kq_add_test(analysis_tests SOURCES
  collection_test.cpp
  check_test.cpp
  writing_test.cpp
  LIBS simhost)
kq_add_test(driver_tests SOURCES
  driver_test.cpp
  LIBS simhost)
# The plug-in calls the host functions that simhost defines: link it after kqplugin.
target_link_libraries(analysis_tests PRIVATE kqplugin simhost)
target_link_libraries(driver_tests PRIVATE kqplugin simhost)
