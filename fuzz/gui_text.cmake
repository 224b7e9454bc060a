brindlework_fuzzer(gui_text brindlework_gui_host_core brindlework_gui brindlework_platform brindlework_core)
if(TEST fuzz_gui_text_seeds)
  set_tests_properties(fuzz_gui_text_seeds PROPERTIES LABELS "fuzz;gui")
endif()
