# The autodiscovery pages are seeds too.
brindlework_web_fuzzer(html page "${BRINDLEWORK_TESTDATA}/feeds/feedvalidator/feedfinder-tests")
