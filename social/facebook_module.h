// social/facebook_module.h - the Facebook module's start and end: the
// registrations through which news/ reaches the Facebook downloader and
// parser.
//
// Invariants:
//   1. facebookModuleNew runs after the news module has started;
//      facebookModuleEnd undoes every registration.
//   2. The Twitter module's registrations are left as they are.
//   3. The address hooks make the lookup's own downloader from the root's
//      tokens; a token renewed on the way is handed to the download.
#pragma once

namespace bw {

void facebookModuleNew();
void facebookModuleEnd();

}  // namespace bw
