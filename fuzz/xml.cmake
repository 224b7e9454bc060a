brindlework_fuzzer(xml brindlework_web brindlework_platform brindlework_core)
if(TEST fuzz_xml_seeds)
  set_tests_properties(fuzz_xml_seeds PROPERTIES LABELS "fuzz;web")
endif()
# The feed corpora are seeds too; they stay in the test data folder.
if(NOT BRINDLEWORK_FUZZ AND EXISTS "${BRINDLEWORK_TESTDATA}/feeds")
  add_test(NAME fuzz_xml_feed_seeds COMMAND fuzz_xml "${BRINDLEWORK_TESTDATA}/feeds")
  set_tests_properties(fuzz_xml_feed_seeds PROPERTIES LABELS "fuzz;web")
endif()
