// platform/argument_line.cpp - builds and keeps the program's argument line.
#include "platform/argument_line.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bw {
namespace {

// Module state: the arguments given by main (or read from the process) and
// the line built from them.
struct ArgumentState {
  bool argumentsSet = false;
  std::vector<std::string> arguments;  // argv[1..]
  Str line;
};
ArgumentState gArgs;

void appendArgument(std::string& line, std::string_view arg) {
  bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
  if (!quote) {
    line.append(arg);
    return;
  }
  line.push_back('"');
  for (char c : arg)
    if (c != '"') line.push_back(c);
  line.push_back('"');
}

Str lineFrom(const std::vector<std::string_view>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line.push_back(' ');
    appendArgument(line, arguments[i]);
  }
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return Str::withCapacity(static_cast<int32_t>(line.size()), line);
}

// argv[1..] of the running process, from the kernel's copy of the command line.
std::vector<std::string> processArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.emplace_back(all, start, end - start);
    start = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());
  return args;
}

}  // namespace

Str argumentLineFromArgv(int argc, const char* const* argv) {
  std::vector<std::string_view> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return lineFrom(arguments);
}

void setProgramArguments(int argc, const char* const* argv) {
  gArgs.arguments.clear();
  for (int i = 1; i < argc; ++i) gArgs.arguments.emplace_back(argv[i] ? argv[i] : "");
  gArgs.argumentsSet = true;
}

void initArgumentString() {
  std::vector<std::string> own = gArgs.argumentsSet ? gArgs.arguments : processArguments();
  std::vector<std::string_view> views(own.begin(), own.end());
  gArgs.line = lineFrom(views);
}

void endArgumentString() { gArgs.line = Str(); }

const Str& argumentString() { return gArgs.line; }

}  // namespace bw
