kq_add_test(core_tests SOURCES
  settings_test.cpp
  beatlist_test.cpp
  derivation_test.cpp
)

# Prints derived signatures for a few built-in measures; what the demo script
# runs until the command-line tool exists.
add_executable(derivation_demo derivation_demo.cpp)
target_link_libraries(derivation_demo PRIVATE kqplugin kq_platform kq_warnings)
add_test(NAME derivation_demo COMMAND derivation_demo)
