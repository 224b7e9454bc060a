brindlework_web_fuzzer(url)
