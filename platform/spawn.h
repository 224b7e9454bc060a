// platform/spawn.h - starts other programs from an argument vector.
//
// The one way this program runs another one: never through a shell, so no
// text reaches /bin/sh. The program is looked up in $PATH like execvp. Every
// descriptor other than the chosen standard streams is closed in the child,
// and signal dispositions and the signal mask are reset to the defaults.
//
//   - spawnProcess: a child the caller owns; optionally its standard output
//     through a pipe (the HTTP client reads curl's output so), its own
//     process group (so a whole pipeline can be stopped at once), and
//     death with its parent (so no child outlives a killed program).
//   - spawnDetached: a child in a session of its own with its standard
//     streams on /dev/null, not the caller's child (nothing to reap, no
//     zombie stays): for the browser and background commands.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bw {

enum class SpawnStdio {
  kInherit,  // the caller's stream
  kNull,     // /dev/null
  kPipe,     // stdout or stderr: a pipe the caller reads (stdoutFd, stderrFd)
};

struct SpawnOptions {
  SpawnStdio in = SpawnStdio::kInherit;   // kInherit or kNull
  SpawnStdio out = SpawnStdio::kInherit;  // kInherit, kNull or kPipe
  SpawnStdio err = SpawnStdio::kInherit;  // kInherit, kNull or kPipe
  bool ownProcessGroup = false;           // the child leads a new process group
  // The child is killed (SIGKILL) when the thread that started it ends, so
  // when this process dies; it is started with fork from the calling
  // thread, which should be the main thread.
  bool dieWithParent = false;
  std::string workingDirectory;           // host path; empty: the caller's
};

// How a child ended.
struct ExitStatus {
  bool exited = false;  // ended by exit(); else killed by signal
  int code = 0;         // exit code when exited
  int signal = 0;       // the signal otherwise
};

// A started child. Move-only; the destructor closes the pipe and reaps the
// child, waiting for it to end (terminate() first to stop it).
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(pid_t pid, int stdoutFd, bool groupLeader, int stderrFd = -1)
      : pid_(pid), stdoutFd_(stdoutFd), stderrFd_(stderrFd), groupLeader_(groupLeader) {}
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  bool valid() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The read end of the stdout pipe; -1 without one. Owned by this object.
  int stdoutFd() const { return stdoutFd_; }
  // Closes the read end of the stdout pipe early.
  void closeStdout();
  // The read end of the stderr pipe; -1 without one. Owned by this object.
  int stderrFd() const { return stderrFd_; }
  void closeStderr();

  // Waits for the child to end and reaps it. Once reaped, the status is kept.
  ExitStatus wait();
  // True (with *status) when the child has ended; false while it runs.
  bool tryWait(ExitStatus* status);
  // Sends sig to the child, or to its process group when it leads one.
  void terminate(int sig);

 private:
  void release();
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  bool reaped_ = false;
  bool groupLeader_ = false;
  ExitStatus status_;
};

// What a spawn gave: a child, or the errno why none was started (ENOENT when
// the program was not found, EACCES when it may not be run, ...).
struct SpawnResult {
  ChildProcess child;
  int error = 0;
};

// The first of name in the directories of searchPath (":"-separated; an
// empty entry is the current directory) that is a regular file after
// following links and that may be executed; a name holding "/" is taken as
// it is. Empty when there is none.
std::string findExecutable(const std::string& name, const std::string& searchPath);

// The search path execvp uses: $PATH, else the system's default path.
std::string executableSearchPath();

// Starts argv[0] with the arguments argv[1..]. An empty argv gives EINVAL.
SpawnResult spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// Starts argv detached; 0 when it was started, else the errno.
int spawnDetached(const std::vector<std::string>& argv, const std::string& workingDirectory = {});

}  // namespace bw
