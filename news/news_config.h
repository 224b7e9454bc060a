// news/news_config.h - the fixed texts of the news layer: the program's
// identity and the host names and addresses its parsers and link rules test
// for. The social layers keep only their own endpoints and credentials and
// read these from here.
//
// Invariants:
//   1. Every value is a compile-time constant; nothing here changes at run
//      time.
//   2. The lengths noted beside the values are part of their meaning (the
//      rules compare prefixes of exactly that length); static_asserts keep
//      them so.
#pragma once

#include <string_view>

namespace bw::newsConfig {

// The program's identity: the title of requesters and sign-in windows, the
// user-agent handed to cHTTP, and the address the "Please report ..." texts
// name.
inline constexpr std::string_view kProgramName = "Brindlework";
inline constexpr std::string_view kUserAgent = "Brindlework/1.0 (Linux)";
inline constexpr std::string_view kMakerContact = "bugs@brindlework.org";

// The generator marker of one blogging platform at version 4: items of its
// feeds are never taken for repeats by their dates alone.
inline constexpr std::string_view kGeneratorMarker = "wordpress.org/?v=4.";

// One news site writes its guids with an explicit ":80"; guids beginning with
// this prefix are normalised.
inline constexpr std::string_view kPortGuidPrefix = "http://www.washingtonpost.com:80/";
static_assert(kPortGuidPrefix.size() == 33);

// The host of the fixed shortening service (expanded whatever the link's
// length).
inline constexpr std::string_view kShortenerHost = "tinyurl.com";
static_assert(kShortenerHost.size() == 11);

// The Facebook web site's home address: links beginning with it count as the
// same story for isSameLink.
inline constexpr std::string_view kFacebookHome = "https://www.facebook.com/";
static_assert(kFacebookHome.size() == 25);

// The Twitter web site's host.
inline constexpr std::string_view kTwitterHost = "twitter.com";
static_assert(kTwitterHost.size() == 11);

// Namespace names, compared ignoring case.
inline constexpr std::string_view kContentModuleNamespace = "http://purl.org/rss/1.0/modules/content/";
inline constexpr std::string_view kAtomNamespace = "http://www.w3.org/2005/Atom";

}  // namespace bw::newsConfig
