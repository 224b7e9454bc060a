brindlework_fuzzer(sha1 brindlework_social brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_sha1_seeds)
  set_tests_properties(fuzz_sha1_seeds PROPERTIES LABELS "fuzz;social")
endif()
