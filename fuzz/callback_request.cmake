brindlework_fuzzer(callback_request brindlework_social brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_callback_request_seeds)
  set_tests_properties(fuzz_callback_request_seeds PROPERTIES LABELS "fuzz;social")
endif()
