# The Debian package and the plug-in's user guide: the package built and run
# from an unpacked root, the guide's before/after examples run through meterfix.
add_test(NAME package_test
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(package_test PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
