// platform/app_host.cpp - the global application host.
#include "platform/app_host.h"

#include <cerrno>
#include <memory>

#include "core/exception.h"

namespace bw {
namespace {

std::unique_ptr<cAppHost> gAppHost;

// The program's own command path as it was started.
// TODO(appframe): take it from the DOS layer's program-name call once it lands.
std::string_view programName() { return program_invocation_name ? program_invocation_name : ""; }

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
    std::string title(filePartOfCommandPath(programName()));
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
