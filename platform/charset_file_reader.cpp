// platform/charset_file_reader.cpp - charset table files through the assigns.
#include "platform/charset_file_reader.h"

#include "core/exception.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {

CharsetFileReader makeDosCharsetFileReader() {
  return [](const std::string& path) -> std::optional<std::string> {
    Str native;
    try {
      native = cPath::ExportPath(path);
    } catch (const eException&) {
      return std::nullopt;  // not a path: no such file
    }
    dos::HostPaths hosts = dos::nativeToHostAll(native);
    if (!hosts.ok) return std::nullopt;
    for (const std::string& host : hosts.paths) {
      if (std::optional<std::string> content = readRegularFile(host)) return content;
    }
    return std::nullopt;
  };
}

void initCharsetFileReader() { setCharsetFileReader(makeDosCharsetFileReader()); }

void endCharsetFileReader() { setCharsetFileReader(nullptr); }

}  // namespace bw
