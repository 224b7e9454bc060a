brindlework_fuzzer(social_feed brindlework_social brindlework_news brindlework_web brindlework_database
                   brindlework_soupcheck brindlework_platform brindlework_core)
