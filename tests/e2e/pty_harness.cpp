#include "pty_harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/linux/baud.hpp"

extern char** environ;

namespace pty_harness {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void write_all(int fd, std::string_view bytes) {
  const auto deadline = Clock::now() + kPatience;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t r = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) fail("write");
    if (Clock::now() > deadline) fail("write timed out");
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, 10);
  }
}

std::string hex_byte(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

void compare_flags(std::ostringstream& out, const char* name, tcflag_t a, tcflag_t b) {
  if (a != b) out << name << " 0" << std::oct << a << " != 0" << b << std::dec << "; ";
}

// NAME=VALUE strings of this process's environment with LC_ALL=C.
std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "LC_ALL=", 7) != 0) env.emplace_back(*e);
  }
  env.emplace_back("LC_ALL=C");
  return env;
}

// XAG_VALGRIND (make test-valgrind): a command, words split at spaces, put
// before xagterm when it is the program started or xagsim's command (after
// "--"). An xagterm a shell starts is left as it is.
void wrap_xagterm(std::vector<std::string>& args) {
  const char* wrapper = std::getenv("XAG_VALGRIND");
  if (wrapper == nullptr || *wrapper == '\0') return;
  std::vector<std::string> words;
  std::istringstream in(wrapper);
  for (std::string w; in >> w;) words.push_back(w);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0 && args[i - 1] != "--") continue;
    if (std::filesystem::path(args[i]).filename() != "xagterm") continue;
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i), words.begin(), words.end());
    break;
  }
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

termios cooked_terminal() {
  termios t{};
  t.c_iflag = BRKINT | ICRNL | IXON | IMAXBEL;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS8 | CREAD | HUPCL;
  t.c_lflag = ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE;
  t.c_cc[VINTR] = 0x03;
  t.c_cc[VQUIT] = 0x1C;
  t.c_cc[VERASE] = 0x7F;
  t.c_cc[VKILL] = 0x15;
  t.c_cc[VEOF] = 0x04;
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  t.c_cc[VSUSP] = 0x1A;
  t.c_cc[VREPRINT] = 0x12;
  t.c_cc[VWERASE] = 0x17;
  t.c_cc[VLNEXT] = 0x16;
  t.c_cc[VDISCARD] = 0x0F;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

std::string settings_difference(const termios& expected, const termios& actual) {
  std::ostringstream out;
  compare_flags(out, "c_iflag", expected.c_iflag, actual.c_iflag);
  compare_flags(out, "c_oflag", expected.c_oflag, actual.c_oflag);
  compare_flags(out, "c_cflag", expected.c_cflag, actual.c_cflag);
  compare_flags(out, "c_lflag", expected.c_lflag, actual.c_lflag);
  if (expected.c_line != actual.c_line) out << "c_line; ";
  for (std::size_t i = 0; i < NCCS; ++i) {
    if (expected.c_cc[i] != actual.c_cc[i]) {
      out << "c_cc[" << i << "] " << hex_byte(expected.c_cc[i]) << " != " << hex_byte(actual.c_cc[i]) << "; ";
    }
  }
  if (cfgetispeed(&expected) != cfgetispeed(&actual)) out << "input speed; ";
  if (cfgetospeed(&expected) != cfgetospeed(&actual)) out << "output speed; ";
  return out.str();
}

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && u != '\\') {
      out += c;
    } else {
      out += "\\x" + hex_byte(u);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------

void ByteStream::drain() {
  if (fd_ < 0 || end_) return;
  char buf[4096];
  for (;;) {
    ssize_t r = ::read(fd_, buf, sizeof buf);
    if (r > 0) {
      data_.append(buf, static_cast<std::size_t>(r));
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return;
    end_ = true;  // end of file, or EIO from a master whose slave is gone
    return;
  }
}

bool wait_until(const std::function<bool()>& done, std::initializer_list<ByteStream*> streams,
                Millis patience) {
  const auto deadline = Clock::now() + patience;
  for (;;) {
    for (ByteStream* s : streams) s->drain();
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    std::vector<pollfd> fds;
    for (ByteStream* s : streams) {
      if (!s->at_end() && s->fd() >= 0) fds.push_back({s->fd(), POLLIN, 0});
    }
    if (fds.empty()) {
      std::this_thread::sleep_for(Millis{10});
    } else {
      ::poll(fds.data(), fds.size(), 10);
    }
  }
}

// ---------------------------------------------------------------------------

Pty::Pty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) fail("posix_openpt");
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) fail("open " + path_);
  int flags = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

Pty::Pty(const termios& settings) : Pty() {
  if (::tcsetattr(slave_, TCSANOW, &settings) != 0) fail("tcsetattr");
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  ::ioctl(slave_, TIOCSWINSZ, &size);
}

Pty::~Pty() {
  close_slave();
  close_master();
}

termios Pty::settings() const {
  termios t{};
  if (::tcgetattr(master_ >= 0 ? master_ : slave_, &t) != 0) fail("tcgetattr");
  return t;
}

void Pty::close_master() { close_fd(master_); }
void Pty::close_slave() { close_fd(slave_); }

// ---------------------------------------------------------------------------

void Line::send(std::string_view bytes) { write_all(pty_.master(), bytes); }

const std::string& Line::received() {
  stream_.drain();
  return stream_.bytes();
}

bool Line::received_contains(std::string_view text, Millis patience) {
  return wait_until([&] { return stream_.bytes().find(text) != std::string::npos; }, {&stream_}, patience);
}

int Line::speed_bps() const { return plat::baud_lido(pty_.master()); }

void Line::hang_up() {
  stream_.drain();
  stream_ = ByteStream{};
  pty_.close_master();
  pty_.close_slave();
}

// ---------------------------------------------------------------------------

Program::Program(const Launch& launch) : console_(launch.console) { start(launch); }

Program::Program(std::vector<std::string> argv) : console_(cooked_terminal()) {
  Launch launch;
  launch.argv = std::move(argv);
  start(launch);
}

void Program::start(const Launch& launch) {
  // The console is never anyone's port: an xagterm of another test that is
  // trying a /dev/pts path again after its line went away (the same number
  // may be handed to this console) finds it locked, as a port another
  // xagterm holds, instead of setting it raw under this test.
  ::flock(console_.slave(), LOCK_EX | LOCK_NB);
  initial_ = console_.settings();
  int err_pipe[2];
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) fail("pipe2");
  err_read_ = err_pipe[0];
  ::fcntl(err_read_, F_SETFL, ::fcntl(err_read_, F_GETFL) | O_NONBLOCK);

  // Everything the child needs is prepared before fork.
  std::vector<std::string> args = launch.argv;
  wrap_xagterm(args);
  std::vector<char*> argv = pointers(args);
  std::vector<std::string> env_strings = child_environment();
  std::vector<char*> envp = pointers(env_strings);
  int null_fd = launch.keyboard ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int slave = console_.slave();
  const std::string& directory = launch.directory;

  pid_ = ::fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU}) {
      ::signal(s, SIG_DFL);
    }
    ::setsid();
    if (::ioctl(slave, TIOCSCTTY, 0) != 0) ::_exit(126);
    ::dup2(launch.keyboard ? slave : null_fd, STDIN_FILENO);
    ::dup2(slave, STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close_range(3, ~0U, 0);
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    static const char msg[] = "exec failed\n";
    (void)!::write(STDERR_FILENO, msg, sizeof msg - 1);
    ::_exit(127);
  }
  if (null_fd >= 0) ::close(null_fd);
  ::close(err_pipe[1]);
  out_ = ByteStream{console_.master()};
  err_ = ByteStream{err_read_};
}

Program::~Program() {
  if (!ended_ && pid_ > 0) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
  }
  close_fd(err_read_);
}

void Program::type(std::string_view keys) { write_all(console_.master(), keys); }

bool Program::console_shows(std::string_view text, std::size_t from, Millis patience) {
  return wait_until(
      [&] {
        const std::string& b = out_.bytes();
        return from <= b.size() && b.find(text, from) != std::string::npos;
      },
      {&out_, &err_}, patience);
}

bool Program::console_becomes(const std::function<bool(const std::string&)>& ok, Millis patience) {
  return wait_until([&] { return ok(out_.bytes()); }, {&out_, &err_}, patience);
}

bool Program::errors_show(std::string_view text, Millis patience) {
  return wait_until([&] { return err_.bytes().find(text) != std::string::npos; }, {&out_, &err_}, patience);
}

const std::string& Program::console() {
  out_.drain();
  return out_.bytes();
}

const std::string& Program::errors() {
  err_.drain();
  return err_.bytes();
}

void Program::reap(int wait_status) {
  ended_ = true;
  status_ = wait_status;
}

bool Program::running() {
  if (ended_) return false;
  int st = 0;
  pid_t r = ::waitpid(pid_, &st, WNOHANG);
  if (r == pid_) reap(st);
  return !ended_;
}

bool Program::wait_exit(Millis patience) {
  bool ended = wait_until([&] { return !running(); }, {&out_, &err_}, patience);
  if (!ended) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    reap(st);
    timed_out_ = true;
  }
  settle();
  return ended;
}

int Program::exit_code() const { return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

int Program::killed_by() const { return ended_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

std::string Program::status_text() const {
  if (!ended_) return "still running";
  if (timed_out_) return "did not end in time and was killed";
  if (WIFEXITED(status_)) return "exit status " + std::to_string(WEXITSTATUS(status_));
  if (WIFSIGNALED(status_)) return std::string("killed by signal ") + strsignal(WTERMSIG(status_));
  return "ended oddly";
}

bool Program::console_settings_become(const std::function<bool(const termios&)>& ok, Millis patience) {
  return wait_until([&] { return ok(console_settings()); }, {&out_, &err_}, patience);
}

namespace {

// utime + stime of a process in clock ticks; -1 when it cannot be read.
long long cpu_ticks(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream in(stat.substr(paren + 1));
  std::string field;
  long long utime = 0;
  long long stime = 0;
  // After the name: state is field 3, utime field 14, stime field 15.
  for (int n = 3; n <= 15 && (in >> field); ++n) {
    if (n == 14) utime = std::stoll(field);
    if (n == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

}  // namespace

double Program::cpu_share(Millis window) {
  const long long before = cpu_ticks(pid_);
  const auto start = Clock::now();
  wait_until([] { return false; }, {&out_, &err_}, window);
  const long long after = cpu_ticks(pid_);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (before < 0 || after < 0) throw std::runtime_error("cannot read /proc/<pid>/stat");
  return static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
}

void Program::signal(int sig) { ::kill(pid_, sig); }

void Program::settle(Millis quiet) {
  std::size_t seen = out_.bytes().size() + err_.bytes().size();
  for (;;) {
    wait_until([] { return false; }, {&out_, &err_}, quiet);
    std::size_t now = out_.bytes().size() + err_.bytes().size();
    if (now == seen) return;
    seen = now;
  }
}

// ---------------------------------------------------------------------------

int run_command(const std::vector<std::string>& argv, Millis patience) {
  std::vector<std::string> args = argv;
  std::vector<char*> p = pointers(args);
  std::vector<std::string> env_strings = child_environment();
  std::vector<char*> envp = pointers(env_strings);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  int r = ::posix_spawnp(&pid, p[0], &actions, nullptr, p.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) return -1;
  const auto deadline = Clock::now() + patience;
  for (;;) {
    int st = 0;
    pid_t w = ::waitpid(pid, &st, WNOHANG);
    if (w == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (Clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &st, 0);
      return -1;
    }
    std::this_thread::sleep_for(Millis{5});
  }
}

std::string find_in_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/xagterm-e2e-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace pty_harness
