# The Windows product, checked from Linux: windows/check_product.sh cross-builds
# the 32-bit library (build-win32/) and reads the built file with pe_check.
# Skipped (with the reason in its output) when mingw-w64 is not installed.
add_executable(kq_pe_check ${PROJECT_SOURCE_DIR}/windows/pe_check.cpp)
target_include_directories(kq_pe_check PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kq_pe_check PRIVATE kq_warnings)

add_test(NAME windows.product_library
         COMMAND ${PROJECT_SOURCE_DIR}/windows/check_product.sh $<TARGET_FILE:kq_pe_check>)
set_tests_properties(windows.product_library PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                     RESOURCE_LOCK build-win32)
