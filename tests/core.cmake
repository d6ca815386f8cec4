kq_add_test(core_tests SOURCES
  settings_test.cpp
  beatlist_test.cpp
)
