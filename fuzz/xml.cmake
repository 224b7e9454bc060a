# The feed corpora are seeds too.
brindlework_web_fuzzer(xml feed "${BRINDLEWORK_TESTDATA}/feeds")
