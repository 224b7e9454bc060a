// fuzz/fuzz_text_modules.h - what the web reader fuzz targets share: the list
// and translate modules with the two target encodings, and a target's state
// made at the first input and dropped at the replay runner's last call.
#pragma once

#include <cstdint>
#include <memory>

#include "core/charset.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"

namespace bw::fuzzing {

// Starts the list and translate modules and loads UTF-8 and ISO-8859-1, the
// encodings the readers' getters are checked in; a target adds its reader's
// module on top and ends it in its own destructor, before these end.
struct TextModules {
  TextModules() {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    utf8.load("UTF-8");
    latin1.load("ISO-8859-1", false);
  }
  ~TextModules() {
    bw::endCharsetModule();
    bw::endTranslateEngine();
    bw::endMegaListModule();
  }
  TextModules(const TextModules&) = delete;
  TextModules& operator=(const TextModules&) = delete;

  bw::cEncodingUTF utf8;
  bw::cCharset latin1;
};

// The target's State for this input: made on the first, kept across inputs,
// and ended on the null input the replay runner passes last (so that what
// it holds is freed before the leak check); null then.
template <class State>
State* stateForInput(const uint8_t* data) {
  static std::unique_ptr<State> state;
  if (!data) {
    state.reset();
    return nullptr;
  }
  if (!state) state = std::make_unique<State>();
  return state.get();
}

}  // namespace bw::fuzzing
