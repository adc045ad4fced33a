# Read by CTest after the discovered tests (see tests/CMakeLists.txt): their lists of test names
# are set by then.
foreach(test IN LISTS segwork_engine_long_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES LABELS "long;slow")
endforeach()
foreach(test IN LISTS segwork_ui_soak_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES LABELS "soak;slow")
endforeach()
