// platform/app_host.cpp - the global application host.
#include "platform/app_host.h"

#include <memory>
#include <string>

#include "core/exception.h"
#include "platform/dos_env.h"

namespace bw {
namespace {

std::unique_ptr<cAppHost> gAppHost;

}  // namespace

void initAppHost() {
  gAppHost = std::make_unique<cAppHost>();
  gAppHost->newApp();
}

void endAppHost() { gAppHost.reset(); }

cAppHost* appHost() { return gAppHost.get(); }

std::string_view filePartOfCommandPath(std::string_view path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

cAppHost* newAppHost(Text name) {
  if (!gAppHost) raise("EMU", "cApp; newAppHost(); app has not been created yet");
  if (name.isNil()) {
    std::string program = dos::programName();
    std::string title(filePartOfCommandPath(program));
    gAppHost->initTitle(title);
  } else {
    gAppHost->initTitle(name);
  }
  return gAppHost.get();
}

void unbuildAppHost() {
  if (gAppHost) gAppHost->unbuild();
}

void MinimiseApp(bool flag) {
  if (!gAppHost) raise("EMU", "cApp; MinimiseApp(); app has not been created yet");
  gAppHost->minimise(flag);
}

}  // namespace bw
