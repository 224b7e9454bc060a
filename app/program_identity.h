// app/program_identity.h - the program's name, user agent, contact address
// and version string. The first three are the news layer's configuration
// table, so requesters, web requests and problem reports name the program
// alike.
#pragma once

#include <string_view>

#include "news/news_config.h"

namespace bw {

inline constexpr std::string_view programName = newsConfig::kProgramName;
inline constexpr std::string_view programUserAgent = newsConfig::kUserAgent;
// A project address, never a person's.
inline constexpr std::string_view programContactAddress = newsConfig::kMakerContact;

// The version string the binary carries (the AmigaOS "Version" command's
// form).
extern const char programVersionString[];

}  // namespace bw
