kq_add_test(presets_tests SOURCES presets_test.cpp LIBS simhost HOST)
kq_add_test(persistence_tests SOURCES persistence_test.cpp LIBS simhost HOST)
kq_add_test(shortcut_hook_tests SOURCES shortcut_hook_test.cpp LIBS simhost HOST)
kq_add_test(entry_tests SOURCES entry_test.cpp LIBS simhost HOST)
