// news/news_module_list.h - the modules the news model needs, in start-up
// order, for the programs that run without the application's start-up:
// tests, tools, benchmarks and fuzz targets. (The application lists the
// same modules among its own in app/startup.cpp.)
#pragma once

#include "core/module_registry.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "news/html_text.h"
#include "news/news_orderings.h"
#include "web/html_reader.h"
#include "web/json_reader.h"
#include "web/xml_entities.h"

namespace bw {

// The list orderings, the translate engine and charsets, the system
// charset, the JSON, XML and HTML readers' tables, the news module and the
// matchers of HTML-to-text.
inline void addNewsModules(ModuleRegistry& registry) {
  registry.add({"megaListBase", initMegaListBaseModule, endMegaListBaseModule});
  registry.add({"megaListString", initMegaListStringModule, endMegaListStringModule});
  registry.add({"megaList", initMegaListModule, endMegaListModule});
  registry.add({"translateEngine", initTranslateEngine, endTranslateEngine});
  registry.add({"charset", initTranslateModule, endCharsetModule});
  registry.add({"systemCharset", [] { initSystemCharset(); }, endSystemCharset});
  registry.add({"json", initJSONModule, endJSONModule});
  registry.add({"xml", initXMLModule, endXMLModule});
  registry.add({"html", initHTMLModule, endHTMLModule});
  registry.add({"news", initNewsModule, endNewsModule});
  registry.add({"newsText", initNewsTextModule, endNewsTextModule});
}

}  // namespace bw
