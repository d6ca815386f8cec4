# meterfix's results read by MuseScore 3 and checked against the MusicXML
# schema; each part says SKIPPED where its program is missing.
find_package(pugixml QUIET)
if(TARGET pugixml::pugixml)
  set(KQ_PUGIXML pugixml::pugixml)
else()
  set(KQ_PUGIXML pugixml)
endif()
kq_add_test(interop_tests SOURCES interop_test.cpp cli_test_support.cpp LIBS ${KQ_PUGIXML})
target_compile_definitions(interop_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(interop_tests meterfix)
