// platform/commands.cpp - command lines, URLs and the command search path,
// all through the argument-vector spawner.
#include "platform/commands.h"

#include <cstdlib>

#include "core/ascii_case.h"
#include "platform/dos.h"
#include "platform/links.h"
#include "platform/spawn.h"

namespace bw {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

struct Word {
  std::string text;
  size_t end = 0;  // position just after the word
  bool found = false;
};

// The word starting at or after pos.
Word wordAt(std::string_view line, size_t pos) {
  Word w;
  while (pos < line.size() && isBlank(line[pos])) ++pos;
  bool quoted = false;
  while (pos < line.size() && (quoted || !isBlank(line[pos]))) {
    w.found = true;
    if (line[pos] == '"') {
      quoted = !quoted;
    } else {
      w.text.push_back(line[pos]);
    }
    ++pos;
  }
  w.end = pos;
  return w;
}

// The rest of the line after pos, from its first non-blank, as written.
std::string_view restAfter(std::string_view line, size_t pos) {
  while (pos < line.size() && isBlank(line[pos])) ++pos;
  return line.substr(pos);
}

// A "Run" argument that redirects the command's streams ("<x", ">x", "*>x").
bool isRedirection(const std::string& word) {
  return !word.empty() && (word[0] == '<' || word[0] == '>' || word.rfind("*>", 0) == 0);
}

bool runSynchronously(const std::vector<std::string>& words) {
  SpawnResult r = spawnProcess(words);
  if (r.error) return false;
  r.child.wait();
  return true;
}

// The browser command for url, from $BROWSER or xdg-open.
std::vector<std::string> browserCommand(const std::string& url) {
  std::vector<std::string> words;
  if (const char* browser = std::getenv("BROWSER")) {
    std::string_view entry(browser);
    entry = entry.substr(0, entry.find(':'));
    for (size_t pos = 0;;) {
      while (pos < entry.size() && isBlank(entry[pos])) ++pos;
      if (pos >= entry.size()) break;
      size_t end = pos;
      while (end < entry.size() && !isBlank(entry[end])) ++end;
      words.emplace_back(entry.substr(pos, end - pos));
      pos = end;
    }
  }
  if (words.empty()) words.push_back("xdg-open");
  bool placed = false;
  for (size_t i = 1; i < words.size(); ++i) {
    for (size_t at = words[i].find("%s"); at != std::string::npos;
         at = words[i].find("%s", at + url.size())) {
      words[i].replace(at, 2, url);
      placed = true;
    }
  }
  if (!placed) words.push_back(url);
  return words;
}

}  // namespace

std::vector<std::string> splitCommandWords(std::string_view line) {
  std::vector<std::string> words;
  for (Word w = wordAt(line, 0); w.found; w = wordAt(line, w.end)) words.push_back(std::move(w.text));
  return words;
}

bool runCommandLine(Text commandLine) {
  if (commandLine.isNil()) return false;
  std::string_view line = commandLine.nulView();
  Word first = wordAt(line, 0);
  if (equalsNoCase(first.text, "URLOpen")) {
    Word link = wordAt(line, first.end);
    if (equalsNoCase(link.text, "LINK")) return openURL(restAfter(line, link.end));
  }
  if (equalsNoCase(first.text, "Run")) {
    size_t pos = first.end;
    Word next = wordAt(line, pos);
    while (next.found && isRedirection(next.text)) {
      pos = next.end;
      next = wordAt(line, pos);
    }
    if (equalsNoCase(next.text, "URLopen")) {
      std::string_view url = restAfter(line, next.end);
      if (url.size() >= 2 && url.front() == '"' && url.back() == '"') url = url.substr(1, url.size() - 2);
      return openURL(url);
    }
    std::vector<std::string> words = splitCommandWords(line.substr(pos));
    return !words.empty() && spawnDetached(words) == 0;
  }
  std::vector<std::string> words = splitCommandWords(line);
  return !words.empty() && runSynchronously(words);
}

bool openURL(Text url) {
  if (url.isNil()) return false;
  return spawnDetached(browserCommand(std::string(url.nulView()))) == 0;
}

bool findCommandInPath(Text name) {
  if (name.isNil() || name.nulLength() == 0) return false;
  const char* path = std::getenv("PATH");
  std::string searchPath = path ? path : "";  // unset: the current directory
  std::string exact(name.nulView());
  if (!findExecutable(exact, searchPath).empty()) return true;
  std::string lower = exact;
  for (char& c : lower) c = foldAscii(c);
  return lower != exact && !findExecutable(lower, searchPath).empty();
}

bool pathIsFile(Text path) {
  if (path.isNil()) return false;
  PathExamination e = examinePath(path, false);
  return e.exists && dirEntryTypeIsFile(e.type, path);
}

RunCommandResult runCommand(Text command, bool quiet, bool asynchronous, int32_t stackSize, int32_t priority,
                            const std::string& currentDirectory) {
  (void)stackSize;
  (void)priority;
  std::vector<std::string> words =
      splitCommandWords(command.isNil() ? std::string_view() : command.nulView());
  if (words.empty()) return {false, 20};
  if (asynchronous) {
    if (spawnDetached(words, currentDirectory) != 0) return {false, 20};
    return {true, 0};
  }
  SpawnOptions options;
  if (quiet) options.in = options.out = options.err = SpawnStdio::kNull;
  options.workingDirectory = currentDirectory;
  SpawnResult r = spawnProcess(words, options);
  if (r.error) return {false, 20};
  ExitStatus status = r.child.wait();
  return {true, status.exited ? status.code : 20};
}

}  // namespace bw
