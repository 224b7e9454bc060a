brindlework_fuzzer(oauth brindlework_social brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_oauth_seeds)
  set_tests_properties(fuzz_oauth_seeds PROPERTIES LABELS "fuzz;social")
endif()
