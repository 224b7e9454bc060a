// platform/shell_template.cpp - compiles a shell template and parses an
// argument line against it.
//
// Invariants:
//   1. After a parse starts, names and types hold count entries and values
//      count + 1 (the last stays NIL), whatever the outcome.
//   2. Parameter names and aliases are unique ignoring case, so a keyword
//      names at most one parameter.
//   3. A reported error raises "ERR" out of the compile or parse step;
//      parseShellTemplate turns exactly that into false. Values stored before
//      the error stay.
//   4. The tokenizer never reads past its input: the position only grows up
//      to the input's length.
#include "platform/shell_template.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "core/string_procs.h"
#include "platform/argument_line.h"

namespace bw {
namespace pShellParameters {
namespace {

// The error markers are colour escapes, written only to a terminal: a file
// or a pipe gets the line plain.
constexpr const char* kMarkOpen = "\x1b[32;43m";
constexpr const char* kMarkClose = "\x1b[31;40m\x1b[0m";
constexpr size_t kAnswerCapacity = 1000;

// The last parse's result.
struct Result {
  int32_t count = 0;
  std::vector<StrChain> names;  // count entries
  std::vector<uint32_t> types;  // count + 1 entries
  std::vector<Str> values;      // count + 1 entries
};

Result gResult;
std::FILE* gOut = nullptr;
std::FILE* gIn = nullptr;

std::FILE* out() { return gOut ? gOut : stdout; }
std::FILE* in() { return gIn ? gIn : stdin; }

// Looks word up among the names and aliases of the compiled template.
FoundString findKeyword(std::string_view word) { return findStringInList(word, gResult.names); }

// A token with the span of the input it shows in error reports (a quoted
// token's span lies between its quotes).
struct Token {
  std::string text;
  int cls = TOKEN_END;
  size_t start = 0, end = 0;  // span in the input
};

void writeText(std::string_view text) { std::fwrite(text.data(), 1, text.size(), out()); }

// One compile or parse over one input text.
class Parser {
 public:
  Parser(std::string input, bool templateMode, bool quiet)
      : input_(std::move(input)), templateMode_(templateMode), quiet_(quiet) {}

  void compileTemplate();
  void parseArguments();

 private:
  Token nextToken();
  [[noreturn]] void reportError(const Token& token, std::string_view message);
  [[noreturn]] void reportErrorNoLine(const std::string& message);
  const char* modeWord() const { return templateMode_ ? "template" : "parameter"; }
  Token readName();
  bool numberAccepted(const Token& token) const;

  std::string input_;
  size_t pos_ = 0;
  bool templateMode_;
  bool quiet_;
};

Token Parser::nextToken() {
  for (;;) {
    Token token;
    token.start = token.end = pos_;
    if (pos_ >= input_.size()) return token;  // TOKEN_END
    unsigned char first = static_cast<unsigned char>(input_[pos_++]);
    token.cls = tokenCharClass(first, 0, templateMode_);
    switch (token.cls) {
      case TOKEN_WORD:
      case TOKEN_NUMBER:
      case TOKEN_SLASH:
      case TOKEN_COMMA:
      case TOKEN_EQUALS:
      case TOKEN_SPACE: {
        token.text.push_back(static_cast<char>(first));
        while (
            pos_ < input_.size() &&
            (tokenCharClass(static_cast<unsigned char>(input_[pos_]), token.cls, templateMode_) & token.cls))
          token.text.push_back(input_[pos_++]);
        token.end = pos_;
        break;
      }
      case TOKEN_QUOTED: {
        token.start = pos_;
        size_t close = input_.find('"', pos_);
        if (close == std::string::npos) {
          token.text = input_.substr(pos_);
          pos_ = token.end = input_.size();
          reportError(token, "string is missing closing quote");
        }
        token.text = input_.substr(pos_, close - pos_);
        token.end = close;
        pos_ = close + 1;
        break;
      }
      case TOKEN_END:
        break;
      case TOKEN_INVALID:
        token.text.push_back(static_cast<char>(first));
        token.end = pos_;
        reportError(token, "unexpected character");
      default:
        raise("BUG", "std/pShellParameters; nextToken(); unknown token type");
    }
    if (token.cls != TOKEN_SPACE) return token;
  }
}

void Parser::reportError(const Token& token, std::string_view message) {
  if (!quiet_) {
    std::string line = "Shell ";
    line += modeWord();
    line += " error, ";
    line += message;
    line += ":\n";
    line += std::string_view(input_).substr(0, token.start);
    const bool terminal = ::isatty(::fileno(out())) == 1;
    if (terminal) line += kMarkOpen;
    line += token.text.empty() ? std::string(" ") : token.text;
    if (terminal) line += kMarkClose;
    line += std::string_view(input_).substr(token.end);
    line += "\n";
    writeText(line);
  }
  raise("ERR", message);
}

void Parser::reportErrorNoLine(const std::string& message) {
  if (!quiet_) writeText(std::string("Shell ") + modeWord() + " error, " + message + "\n");
  raise("ERR", message);
}

Token Parser::readName() {
  Token name = nextToken();
  if (name.cls != TOKEN_WORD && name.cls != TOKEN_NUMBER)
    reportError(name, "expected word for parameter name");
  if (findKeyword(name.text).found) reportError(name, "parameter name already used");
  return name;
}

uint32_t typeBit(std::string_view letter) {
  if (letter == "A") return kRequired;
  if (letter == "K") return kKeyword;
  if (letter == "S") return kSwitch;
  if (letter == "N") return kNumber;
  if (letter == "F") return kRestOfLine;
  return 0;
}

void Parser::compileTemplate() {
  for (int32_t i = 0;; ++i) {
    Token name = readName();
    StrChain& chain = gResult.names[static_cast<size_t>(i)];
    chain.push_back(Str(name.text));
    Token token = nextToken();
    while (token.cls == TOKEN_EQUALS) {
      Token alias = readName();
      chain.insert(chain.begin() + 1, Str(alias.text));  // directly behind the first name
      token = nextToken();
    }
    uint32_t& types = gResult.types[static_cast<size_t>(i)];
    while (token.cls == TOKEN_SLASH) {
      Token letter = nextToken();
      if (letter.cls != TOKEN_WORD && letter.cls != TOKEN_NUMBER)
        reportError(letter, "expected letter for parameter type");
      uint32_t bit = typeBit(letter.text);
      if (!bit) reportError(letter, "unknown parameter type");
      constexpr uint32_t kNotWithSwitch = kRequired | kKeyword | kNumber | kRestOfLine;
      if ((bit == kSwitch && (types & kNotWithSwitch)) || (bit != kSwitch && (types & kSwitch)))
        reportError(letter, "parameter type conflicts with a previous type");
      types |= bit;
      token = nextToken();
    }
    if (token.cls == TOKEN_END) return;
    if (token.cls != TOKEN_COMMA) reportError(token, "expected \",\" or end of line");
    if (i + 1 >= gResult.count) raise("BUG", "template array index out of bounds");
  }
}

// A number token, or a word of a sign and digits; the value stays text.
bool Parser::numberAccepted(const Token& token) const {
  if (token.cls == TOKEN_NUMBER) return true;
  if (token.cls != TOKEN_WORD || token.text.size() < 2) return false;
  if (token.text[0] != '-' && token.text[0] != '+') return false;
  return std::all_of(token.text.begin() + 1, token.text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void Parser::parseArguments() {
  const int32_t count = gResult.count;
  auto isPositional = [](uint32_t types) { return !(types & (kKeyword | kSwitch)); };
  int32_t p = 0;
  while (p < count && !isPositional(gResult.types[static_cast<size_t>(p)])) ++p;

  Token token = nextToken();
  while (token.cls != TOKEN_END) {
    int32_t target = -1;
    if (token.cls == TOKEN_WORD || token.cls == TOKEN_NUMBER) {
      FoundString k = findKeyword(token.text);
      if (k.found && gResult.values[static_cast<size_t>(k.index)].isNil()) target = k.index;
    }
    bool valueRead = false;
    if (target >= 0) {
      if (gResult.types[static_cast<size_t>(target)] & kSwitch) {
        gResult.values[static_cast<size_t>(target)] = Str(token.text);
        valueRead = true;
      } else {
        token = nextToken();
        if (token.cls == TOKEN_EQUALS) token = nextToken();
      }
    } else {
      if (p >= count) reportError(token, "does not match template");
      target = p;
    }
    if (!valueRead) {
      uint32_t types = gResult.types[static_cast<size_t>(target)];
      if (types & kRestOfLine) {
        // The value runs from the token's start (a quoted one's quote) to the
        // end of the line.
        if (token.cls == TOKEN_QUOTED) token.start -= 1;
        if (token.cls != TOKEN_END) token.text = input_.substr(token.start);
        pos_ = token.end = input_.size();
      }
      if (token.cls == TOKEN_END) reportError(token, "expected value after keyword");
      if (token.cls != TOKEN_WORD && token.cls != TOKEN_NUMBER && token.cls != TOKEN_QUOTED)
        reportError(token, "illegal character");
      if ((types & kNumber) && !numberAccepted(token)) reportError(token, "expected number");
      gResult.values[static_cast<size_t>(target)] = Str(token.text);
    }
    token = nextToken();
    while (p < count && (!gResult.values[static_cast<size_t>(p)].isNil() ||
                         !isPositional(gResult.types[static_cast<size_t>(p)])))
      ++p;
  }

  for (int32_t i = 0; i < count; ++i) {
    if ((gResult.types[static_cast<size_t>(i)] & kRequired) && gResult.values[static_cast<size_t>(i)].isNil())
      reportErrorNoLine("missing required parameter \"" +
                        gResult.names[static_cast<size_t>(i)].front().str() + "\"");
  }
}

// Reads one console line of at most kAnswerCapacity bytes, without its line
// end ("\n" or "\r\n"); empty at end of input.
std::string readAnswerLine() {
  std::string line;
  int c;
  while (line.size() < kAnswerCapacity && (c = std::fgetc(in())) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return line;
}

// An argument line whose last non-blank is a "?" standing alone asks the
// console for the arguments: the text before the "?" plus the line read.
std::string askForArguments(std::string_view tmpl, std::string arguments) {
  size_t last = arguments.find_last_not_of(" \t");
  if (last == std::string::npos || arguments[last] != '?') return arguments;
  if (last > 0 && arguments[last - 1] != ' ' && arguments[last - 1] != '\t') return arguments;
  std::string prompt(tmpl);
  prompt += ": ";
  writeText(prompt);
  std::fflush(out());
  return arguments.substr(0, last) + readAnswerLine();
}

void freeResult() { gResult = Result(); }

}  // namespace

int tokenCharClass(unsigned char c, int classSoFar, bool templateMode) {
  if (c == 0) return TOKEN_END;
  if (c == ' ' || c == '\t') return TOKEN_SPACE;
  if (c == '"') return TOKEN_QUOTED;
  if (c == '=') return TOKEN_EQUALS;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-') return TOKEN_WORD;
  if (c >= '0' && c <= '9') return classSoFar == TOKEN_WORD ? TOKEN_WORD : TOKEN_NUMBER;
  if (!templateMode) return TOKEN_WORD;
  if (c == '/') return TOKEN_SLASH;
  if (c == ',') return TOKEN_COMMA;
  return TOKEN_INVALID;
}

const Str& GetParam(int32_t index) {
  if (index < 0 || index >= gResult.count)
    raise("EPU", "std/pShellParameters; GetParam(); index is out of range");
  return gResult.values[static_cast<size_t>(index)];
}

int32_t infoShellParamCount() { return gResult.count; }

const std::vector<StrChain>& keywordTable() { return gResult.names; }

}  // namespace pShellParameters

using namespace pShellParameters;

bool parseShellTemplate(Text tmpl, Text arguments, bool quiet) {
  freeResult();
  std::string templateText(tmpl.nulView());
  gResult.count = 1 + static_cast<int32_t>(std::count(templateText.begin(), templateText.end(), ','));
  gResult.names.resize(static_cast<size_t>(gResult.count));
  gResult.types.assign(static_cast<size_t>(gResult.count) + 1, 0);
  gResult.values.resize(static_cast<size_t>(gResult.count) + 1);
  try {
    Parser(templateText, true, quiet).compileTemplate();
    std::string line(arguments.isNil() ? argumentString().view() : arguments.nulView());
    line = askForArguments(templateText, std::move(line));
    Parser(std::move(line), false, quiet).parseArguments();
  } catch (const eException& e) {
    if (e.code() != "ERR") throw;
    return false;
  }
  return true;
}

void endShellParameters() { freeResult(); }

void setShellConsole(std::FILE* outFile, std::FILE* inFile) {
  gOut = outFile;
  gIn = inFile;
}

}  // namespace bw
