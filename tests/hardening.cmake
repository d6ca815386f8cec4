# Seeds and saved crash inputs of the fuzz targets, replayed in every build.
kq_add_test(fuzz_regression_tests SOURCES fuzz_regression_test.cpp LIBS kq_fuzz_drivers)
