# The Debian package and the plug-in's user guide: the package built and run
# from an unpacked root, the guide's before/after examples run through meterfix.
set(kq_package_lint)
if(KQ_SANITIZE)
  set(kq_package_lint --no-lintian)
endif()
add_test(NAME package_test
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                 ${kq_package_lint})
set_tests_properties(package_test PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

kq_add_test(guide_examples_tests SOURCES guide_examples_test.cpp
            LIBS meterfix_cli METERFIX)
