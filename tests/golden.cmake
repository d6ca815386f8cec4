# Wire images pinned byte for byte from the record tables, and the include
# directions of the layering; both run in every test run.
kq_add_test(golden_tests SOURCES golden_bytes_test.cpp LIBS meterfix_cli simhost HOST)

kq_add_test(layering_tests SOURCES include_direction_test.cpp)
