# JSONTestSuite is a seed corpus too.
brindlework_web_fuzzer(json suite "${BRINDLEWORK_TESTDATA}/json/JSONTestSuite/test_parsing")
