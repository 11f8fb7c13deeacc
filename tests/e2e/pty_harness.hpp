// Runs programs on pseudo-terminals, as a person at a terminal would, and
// lets a test play the device at the far end of a serial line.
//
// A Program gets its own console pty: it is the session leader, the console
// is its controlling terminal, standard input and output; standard error goes
// to a pipe of its own. A Line is a second pty whose slave path is handed to
// the program as its port while the test reads and writes the master.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace pty_harness {

using Millis = std::chrono::milliseconds;

// How long any awaited event may take on a busy machine before it counts as
// never happening.
inline constexpr Millis kPatience{5000};

// The settings of an ordinary interactive terminal, as `stty sane` leaves it.
termios cooked_terminal();

// Empty when every field is identical, else a list of the differing fields.
std::string settings_difference(const termios& expected, const termios& actual);

// The text as a console with output processing shows it: LF becomes CR LF.
std::string crlf(std::string_view text);

// The bytes with everything outside printable ASCII written as \xHH.
std::string printable(std::string_view bytes);

// Everything an fd delivers, kept in arrival order.
class ByteStream {
 public:
  ByteStream() = default;
  explicit ByteStream(int fd) : fd_(fd) {}

  int fd() const { return fd_; }
  bool at_end() const { return end_; }
  const std::string& bytes() const { return data_; }

  // Reads whatever is waiting without blocking. A read that fails (as a pty
  // master does once its slave is gone) ends the stream.
  void drain();

 private:
  int fd_ = -1;
  std::string data_;
  bool end_ = false;
};

// Drains the streams until done() holds or the patience runs out; returns
// done() at that moment.
bool wait_until(const std::function<bool()>& done, std::initializer_list<ByteStream*> streams,
                Millis patience = kPatience);

// A pseudo-terminal pair; both ends are kept open until closed here.
class Pty {
 public:
  Pty();                                  // the kernel's default settings
  explicit Pty(const termios& settings);  // the slave starts with these
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& path() const { return path_; }

  // The slave's settings, read through the master.
  termios settings() const;

  void close_master();
  void close_slave();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// The test as the device: the program opens path() as its port.
class Line {
 public:
  Line() = default;
  explicit Line(const termios& settings) : pty_(settings) {}

  const std::string& path() const { return pty_.path(); }

  // Writes the bytes as the device sends them.
  void send(std::string_view bytes);

  // Everything the program has sent so far.
  const std::string& received();

  // Waits until what was received contains the text.
  bool received_contains(std::string_view text, Millis patience = kPatience);

  // The line settings the program applied.
  termios settings() const { return pty_.settings(); }
  // The output rate in bits per second, including non-standard rates.
  int speed_bps() const;

  // The device goes away: the line hangs up on the program's side.
  void hang_up();

  ByteStream& stream() { return stream_; }

 private:
  Pty pty_;
  ByteStream stream_{pty_.master()};
};

struct Launch {
  std::vector<std::string> argv;  // argv[0] is the executable's path
  termios console = cooked_terminal();
  bool keyboard = true;   // false: standard input is /dev/null
  std::string directory;  // the working directory; empty: ours
};

class Program {
 public:
  explicit Program(const Launch& launch);
  explicit Program(std::vector<std::string> argv);
  ~Program();  // a program still running is killed with its process group
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }

  // Types the bytes on the console's keyboard.
  void type(std::string_view keys);

  // Waits until the console output from offset `from` on contains the text.
  bool console_shows(std::string_view text, std::size_t from = 0, Millis patience = kPatience);

  // Waits until the console output so far satisfies the predicate.
  bool console_becomes(const std::function<bool(const std::string&)>& ok, Millis patience = kPatience);

  // Waits until standard error contains the text.
  bool errors_show(std::string_view text, Millis patience = kPatience);

  // Console output and standard error so far.
  const std::string& console();
  const std::string& errors();

  // Waits for the program to end; false when it had to be killed (SIGKILL)
  // at the end of the patience. Remaining output is collected either way.
  bool wait_exit(Millis patience = 2 * kPatience);

  bool running();
  int exit_code() const;  // -1 unless it ended by exit
  int killed_by() const;  // 0 unless a signal ended it
  std::string status_text() const;

  // The console's settings now, and as they were before the program ran.
  termios console_settings() const { return console_.settings(); }
  const termios& initial_settings() const { return initial_; }

  // Waits until the console's settings satisfy the predicate.
  bool console_settings_become(const std::function<bool(const termios&)>& ok, Millis patience = kPatience);

  // The fraction of one processor the program used over the window.
  double cpu_share(Millis window);

  void signal(int sig);

  // Collects output until none has come for `quiet`.
  void settle(Millis quiet = Millis{100});

  ByteStream& console_stream() { return out_; }

 private:
  void start(const Launch& launch);
  void reap(int wait_status);

  Pty console_;
  termios initial_{};
  int err_read_ = -1;
  ByteStream out_;
  ByteStream err_;
  pid_t pid_ = -1;
  bool ended_ = false;
  bool timed_out_ = false;
  int status_ = 0;
};

// Runs a command to its end with no terminal; its exit status, or -1.
int run_command(const std::vector<std::string>& argv, Millis patience = 2 * kPatience);

// The executable's full path found through PATH, or empty.
std::string find_in_path(const std::string& name);

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view content);

// A fresh directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace pty_harness
