kq_add_test(simhost_tests SOURCES simhost_test.cpp LIBS simhost)
