kq_add_test(presets_tests SOURCES presets_test.cpp LIBS simhost)
kq_add_test(persistence_tests SOURCES persistence_test.cpp LIBS simhost)
kq_add_test(shortcut_hook_tests SOURCES shortcut_hook_test.cpp LIBS simhost)
# The plug-in calls the host functions that simhost defines: link it after kqplugin.
target_link_libraries(presets_tests PRIVATE kqplugin simhost)
target_link_libraries(persistence_tests PRIVATE kqplugin simhost)
target_link_libraries(shortcut_hook_tests PRIVATE kqplugin simhost)
kq_add_test(entry_tests SOURCES entry_test.cpp LIBS simhost)
target_link_libraries(entry_tests PRIVATE kqplugin simhost)
