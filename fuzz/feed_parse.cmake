brindlework_fuzzer(feed_parse brindlework_news brindlework_web brindlework_database brindlework_soupcheck brindlework_platform
                   brindlework_core)
