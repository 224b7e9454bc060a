// bench/bench_qt_host.h - one offscreen application with its client for a
// whole Qt benchmark run, its settings in a scratch folder that goes at the
// end.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"

namespace bw::bench {

struct QtHost {
  explicit QtHost(const char* name) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    scratch = std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initSystemCharset();
    app.initTitle("bench");
    app.registerClient(&client);
    app.build();
  }
  ~QtHost() { std::filesystem::remove_all(scratch); }
  cApp app;
  cGuiAppClient client;
  std::filesystem::path scratch;
};

}  // namespace bw::bench
