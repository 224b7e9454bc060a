// platform/app_host.h - the global application host and the frame module's
// procedures.
//
// Life of the host: initAppHost (start-up) -> newAppHost -> build -> (run)
// -> unbuildAppHost -> endAppHost (shutdown). The GUI host registers its
// client with appHost() in its own module initialiser, so initAppHost runs
// before that one.
#pragma once

#include <string>

#include "core/str.h"
#include "platform/app_frame.h"

namespace bw {

// Module initialiser: makes the one cAppHost.
void initAppHost();
// Module finaliser: deletes the host (nothing when there is none).
void endAppHost();

// The global host; nullptr before initAppHost and after endAppHost.
cAppHost* appHost();

// Titles the host with name, or with the file part of the program's own name
// when name is NIL; returns the host. Raises "EMU" when there is no host.
cAppHost* newAppHost(Text name);
// Unbuilds the host when there is one.
void unbuildAppHost();
// Minimises or restores the host; raises "EMU" when there is no host.
void MinimiseApp(bool flag);

// The part of path after its last "/", "\" or ":" (all of it when there is
// none).
std::string_view filePartOfCommandPath(std::string_view path);

}  // namespace bw
