# The command-line tool: its library functions, and the built binary run on
# the example, on generated bad inputs and on the shared corpus.
kq_add_test(cli_tests SOURCES cli_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(cli_tests meterfix)
# The plug-in calls the host functions that simhost defines: link it after kqplugin.
target_link_libraries(cli_tests PRIVATE kqplugin simhost)

kq_add_test(restore_tests SOURCES restore_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(restore_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(restore_tests meterfix)
target_link_libraries(restore_tests PRIVATE kqplugin simhost)

# bench/recovery end to end on three small scores of the shared corpus.
find_package(Python3 COMPONENTS Interpreter QUIET)
set(kq_recovery_dir "${PROJECT_SOURCE_DIR}/../shared/corpus/lilypond-testsuite")
if(Python3_Interpreter_FOUND AND EXISTS "${kq_recovery_dir}")
  add_test(NAME bench_recovery_smoke
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/recovery
                   --meterfix $<TARGET_FILE:meterfix> --mode=--restore
                   ${kq_recovery_dir}/11a-TimeSignatures.xml
                   ${kq_recovery_dir}/11g-TimeSignatures-SingleNumber.xml
                   ${kq_recovery_dir}/46d-PickupMeasure-ImplicitMeasures.xml)
  set_tests_properties(bench_recovery_smoke PROPERTIES
    PASS_REGULAR_EXPRESSION "Damage c.*\\| --restore \\| [0-9.]+ %.*Intact scores")
endif()

kq_add_test(cli_corpus_tests SOURCES cli_corpus_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_corpus_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>"
                           KQ_CORPUS_DIR="${PROJECT_SOURCE_DIR}/../shared/corpus")
add_dependencies(cli_corpus_tests meterfix)
target_link_libraries(cli_corpus_tests PRIVATE kqplugin simhost)
if(KQ_SANITIZE)
  # Sanitized runs are several times slower: big scores get one option set.
  target_compile_definitions(cli_corpus_tests PRIVATE KQ_SANITIZED=1)
endif()

kq_add_test(grouping_cases_tests SOURCES grouping_cases_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(grouping_cases_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(grouping_cases_tests meterfix)

kq_add_test(cli_safety_tests SOURCES cli_safety_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_safety_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(cli_safety_tests meterfix)
target_link_libraries(cli_safety_tests PRIVATE kqplugin simhost)

kq_add_test(cli_batch_tests SOURCES cli_batch_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_batch_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(cli_batch_tests meterfix)
target_link_libraries(cli_batch_tests PRIVATE kqplugin simhost)

kq_add_test(cli_html_tests SOURCES cli_html_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_html_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(cli_html_tests meterfix)
target_link_libraries(cli_html_tests PRIVATE kqplugin simhost)
# The test reads its score with pugixml, apart from the reader under test.
find_package(pugixml QUIET)
if(TARGET pugixml::pugixml)
  target_link_libraries(cli_html_tests PRIVATE pugixml::pugixml)
else()
  target_link_libraries(cli_html_tests PRIVATE pugixml)
endif()

kq_add_test(cli_hazards_tests SOURCES cli_hazards_test.cpp cli_test_support.cpp LIBS meterfix_cli)
target_compile_definitions(cli_hazards_tests PRIVATE MeterfixPath="$<TARGET_FILE:meterfix>")
add_dependencies(cli_hazards_tests meterfix)
target_link_libraries(cli_hazards_tests PRIVATE kqplugin simhost)
