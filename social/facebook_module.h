// social/facebook_module.h - the Facebook module's start and end: the
// registrations through which news/ reaches the Facebook downloader and
// parser.
//
// Invariants:
//   1. facebookModuleNew runs after the news module has started;
//      facebookModuleEnd undoes every registration.
//   2. The Twitter module's registrations are left as they are.
#pragma once

namespace bw {

void facebookModuleNew();
void facebookModuleEnd();

}  // namespace bw
