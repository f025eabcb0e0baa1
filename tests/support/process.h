#pragma once
// A program run by a test as a person or a script would run it: its standard output and
// standard error captured apart, its exit status, SIGINT on demand; or on a terminal of its
// own (a pseudo-terminal, its controlling terminal), where keys typed reach it as a person's
// would (Ctrl+C through the terminal) and what it shows is captured as the terminal got it.
// Every wait has a deadline; a program still running at the end of its test is killed.
// Qt-free, POSIX.

// Std
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class Process {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts `program` with `args`; `environment` entries ("NAME=value") are added to the
  // test's own environment, replacing a variable of the same name.
  Process(std::string program, std::vector<std::string> args, std::vector<std::string> environment = {});
  // On a terminal of `columns` by `rows`: standard output and standard error both go to it,
  // and Out() is everything the terminal was sent.
  struct Terminal {
    unsigned short columns = 80, rows = 24;
  };
  Process(std::string program, std::vector<std::string> args, std::vector<std::string> environment, Terminal terminal);
  ~Process();  // kills the program if it still runs
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  [[nodiscard]] bool Started() const { return pid_ > 0; }
  [[nodiscard]] pid_t Pid() const { return pid_; }

  // Reads both outputs as they come until `done` holds (true) or `timeout` passes (false).
  bool ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // The next whole line of standard output (without its newline); empty when none came in time.
  std::string Line(std::chrono::milliseconds timeout);

  void Signal(int signal);
  // Keys typed at the program's terminal ("\x03" is Ctrl+C); false when it has none.
  bool Type(const std::string& keys);
  // Reads both outputs to their end and waits for the exit: the exit status, 128 + the signal
  // that ended the program, or -1 when it had not ended by the deadline (it is killed then).
  int Wait(std::chrono::milliseconds timeout);

  // What has come so far (all of it, after Wait).
  [[nodiscard]] const std::string& Out() const { return out_; }
  [[nodiscard]] const std::string& Err() const { return err_; }

 private:
  void Spawn(std::string program, std::vector<std::string> args, std::vector<std::string> environment, int out,
             int err, const std::string& terminal);
  // One poll of the open outputs, up to `deadline`; false when nothing more can come by then.
  bool ReadSome(Clock::time_point deadline);
  bool Reap(bool block);

  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  int pidFd_ = -1;  // readable once the program has ended
  int terminalFd_ = -1;  // the terminal's master side (also outFd_)
  int heldTerminal_ = -1;  // its other side, held until the program ends so no read ends early
  std::string out_, err_;
  std::size_t lineFrom_ = 0;  // where Line looks for the next line
  int status_ = -1;
  bool exited_ = false;
};

struct Finished {
  int status = -1;
  std::string out, err;
};
// Runs a program to its end (killed after `timeout`, status -1).
[[nodiscard]] Finished RunProgram(const std::string& program, std::vector<std::string> args,
                                  std::vector<std::string> environment = {},
                                  std::chrono::milliseconds timeout = std::chrono::seconds(30));
