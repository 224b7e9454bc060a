brindlework_fuzzer(http_response brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_http_response_seeds)
  set_tests_properties(fuzz_http_response_seeds PROPERTIES LABELS "fuzz;web")
endif()
