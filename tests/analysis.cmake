kq_add_test(analysis_tests SOURCES
  collection_test.cpp
  check_test.cpp
  writing_test.cpp
  LIBS simhost HOST)
kq_add_test(driver_tests SOURCES
  driver_test.cpp
  LIBS simhost HOST)
