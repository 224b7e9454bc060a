// core/exception.h - eException, the program's one exception type.
//
// Every failure is raised as an eException carrying a short code and a
// message that names the class and method (or module and procedure), then
// "(); " and the problem, e.g. "cJournaledFile.setSize(); sizeInBytes<0".
//
// Codes in use:
//   "EMU"  a caller broke a method's rules     "BUG"  internal inconsistency
//   "EPU"  bad argument to a procedure         "MEM"  allocation failed
//   "FILE" file-system failure                 "FULL" disk full
//   "XML" / "JSON" / "HTML"  malformed document
//   "VER"  unsupported stored object version   "TRAN" transaction misused
//   "BRK"  user break (Ctrl-C)                 "RES"  resource not available
//   "DEV"  device failed to open               "lib"  library not obtained
//   "end"  end of text while decoding UTF-8    "ERR"  already reported to the user
//   "-1"   a program exit with a return value (eProgramExit)
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace bw {

class eException : public std::exception {
 public:
  eException(std::string_view code, std::string_view message)
      : code_(code), message_(message), what_(code_ + ": " + message_) {}

  const std::string& code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string code_;
  std::string message_;
  std::string what_;
};

// Raises eException(code, message).
[[noreturn]] inline void raise(std::string_view code, std::string_view message) {
  throw eException(code, message);
}

// A program exit with a return value: it unwinds like any exception, and
// main returns returnValue() as the exit code, printing nothing.
class eProgramExit : public eException {
 public:
  explicit eProgramExit(int returnValue)
      : eException("-1", "exitProgram(); return value " + std::to_string(returnValue)), returnValue_(returnValue) {}
  int returnValue() const noexcept { return returnValue_; }

 private:
  int returnValue_;
};

// Ends the program with returnValue as its exit code (raises eProgramExit).
[[noreturn]] inline void exitProgram(int returnValue) { throw eProgramExit(returnValue); }

}  // namespace bw
