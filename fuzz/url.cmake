brindlework_fuzzer(url brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_url_seeds)
  set_tests_properties(fuzz_url_seeds PROPERTIES LABELS "fuzz;web")
endif()
