brindlework_fuzzer(list_rows brindlework_gui_host_core brindlework_gui brindlework_platform brindlework_core)
if(TEST fuzz_list_rows_seeds)
  set_tests_properties(fuzz_list_rows_seeds PROPERTIES LABELS "fuzz;gui")
endif()
