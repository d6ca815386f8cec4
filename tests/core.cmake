kq_add_test(core_tests SOURCES
  beatlist_test.cpp
  derivation_test.cpp
)

# A demo program, not a test: prints the signatures derived for a few
# built-in measures under three option sets (scripts/demo runs it where
# meterfix or the example score is missing).
add_executable(derivation_demo derivation_demo.cpp)
target_link_libraries(derivation_demo PRIVATE kqplugin kq_platform kq_warnings)
