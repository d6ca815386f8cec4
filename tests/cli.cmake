# The command-line tool: its library functions, and the built binary run on
# the example, on generated bad inputs and on the shared corpus.
kq_add_test(cli_tests SOURCES cli_test.cpp LIBS meterfix_cli HOST METERFIX)
kq_add_test(restore_tests SOURCES restore_test.cpp LIBS meterfix_cli
            HOST METERFIX)

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

kq_add_test(cli_corpus_tests SOURCES cli_corpus_test.cpp LIBS meterfix_cli
            HOST METERFIX CORPUS)
kq_add_test(grouping_cases_tests SOURCES grouping_cases_test.cpp
            LIBS meterfix_cli METERFIX)
kq_add_test(cli_safety_tests SOURCES cli_safety_test.cpp LIBS meterfix_cli
            HOST METERFIX)
kq_add_test(cli_batch_tests SOURCES cli_batch_test.cpp LIBS meterfix_cli
            HOST METERFIX)
# The test reads its score with pugixml, apart from the reader under test.
kq_add_test(cli_html_tests SOURCES cli_html_test.cpp LIBS meterfix_cli
            HOST METERFIX)
target_link_libraries(cli_html_tests PRIVATE ${KQ_PUGIXML})
kq_add_test(cli_hazards_tests SOURCES cli_hazards_test.cpp
            LIBS meterfix_cli HOST METERFIX)
