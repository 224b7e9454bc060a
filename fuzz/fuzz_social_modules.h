// fuzz/fuzz_social_modules.h - what the social reader fuzz targets share:
// the news modules, the timer device and the Twitter module (its entity
// table reads Twitter's JSON), started at the first input and ended at the
// replay runner's last call.
#pragma once

#include <cstdint>
#include <string>

#include "core/module_registry.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/news_module_list.h"
#include "platform/clock.h"
#include "social/service_config.h"
#include "social/twitter_module.h"
#include "web/json_reader.h"

namespace bw::fuzzing {

struct SocialModules {
  SocialModules() {
    bw::addNewsModules(registry);
    registry.initAll();
    bw::initTimerDevice();
    bw::twitterModuleNew();
  }
  ~SocialModules() {
    bw::twitterModuleEnd();
    bw::credentialsModuleEnd();
    bw::closeTimerDevice();
    registry.endAll();
  }
  SocialModules(const SocialModules&) = delete;
  SocialModules& operator=(const SocialModules&) = delete;

  bw::ModuleRegistry registry;
};

// Whether the modules are up for this input (false on the last call).
inline bool socialModulesFor(const uint8_t* data) { return stateForInput<SocialModules>(data) != nullptr; }

// The input read as JSON from a NUL-terminated copy: the reader takes a
// length of 0 for "up to the first NUL", which the bare input may not hold.
inline bw::JsonParseResult parseJson(bw::cJSON& reader, const std::string& text) {
  return reader.parseDocument(text.c_str(), static_cast<int32_t>(text.size() + 1));
}

}  // namespace bw::fuzzing
