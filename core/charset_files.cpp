// core/charset_files.cpp - the table file reader seam and its native reader.
#include "core/charset_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace bw {
namespace {

CharsetFileReader gReader;

}  // namespace

void setCharsetFileReader(CharsetFileReader reader) { gReader = std::move(reader); }

const CharsetFileReader& charsetFileReader() { return gReader; }

std::optional<std::string> readRegularFileUpTo(const std::string& nativePath, int64_t maxBytes) {
  // O_NONBLOCK keeps open() from waiting for a FIFO's writer; fstat then
  // refuses everything that is not a regular file of a bounded size.
  int fd = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> result;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxBytes) {
    std::string content;
    content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        result = std::move(content);
        break;
      }
      if (static_cast<int64_t>(content.size()) + n > maxBytes) break;
      content.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return result;
}

CharsetFileReader makeNativeCharsetFileReader(std::string progdir) {
  if (!progdir.empty() && progdir.back() != '/') progdir += '/';
  return [progdir](const std::string& path) -> std::optional<std::string> {
    struct Assign {
      const char* device;
      const char* folder;
    };
    static constexpr Assign kAssigns[] = {{"L:", "L/"}, {"Libs:", "Libs/"}, {"PROGDIR:", ""}};
    size_t colon = path.find(':');
    if (colon == std::string::npos) return readRegularFile(path);
    std::string device = path.substr(0, colon + 1);
    std::string rest = path.substr(colon + 1);
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    for (const Assign& a : kAssigns) {
      if (device == a.device) return readRegularFile(progdir + a.folder + rest);
    }
    return std::nullopt;
  };
}

StrChain splitTextFileLines(std::string_view content) {
  StrChain lines;
  size_t pos = 0;
  for (;;) {
    size_t lf = content.find('\n', pos);
    size_t end = lf == std::string_view::npos ? content.size() : lf;
    std::string_view line = content.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(Str(line));
    if (lf == std::string_view::npos) break;
    pos = lf + 1;
  }
  return lines;
}

std::optional<StrChain> readTextFileLines(const std::string& path) {
  if (!gReader) return std::nullopt;
  std::optional<std::string> content = gReader(path);
  if (!content) return std::nullopt;
  return splitTextFileLines(*content);
}

}  // namespace bw
