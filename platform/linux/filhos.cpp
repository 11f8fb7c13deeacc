// Children on POSIX: posix_spawn with the child's standard output and error
// on pipes, poll on the parent's ends, waitpid at the end.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

struct Filho {
  int fd[2];  // the parent's ends of standard output and error (-1: ended)
};

Filho filhos[filhos_maximo];
int quantos = 0;

// Read by the signal handler: the children that may still run (0: reaped).
volatile pid_t pids[filhos_maximo];

constexpr int sinais[] = {SIGINT, SIGTERM};
constexpr int n_sinais = sizeof sinais / sizeof sinais[0];
volatile sig_atomic_t sinal_notado = 0;
struct sigaction anterior[n_sinais];
bool tomado[n_sinais] = {};

void ao_sinal(int sinal) {
  int salvo = errno;
  sinal_notado = sinal;
  for (int i = 0; i < filhos_maximo; ++i) {
    if (pids[i] > 0) kill(pids[i], sinal);
  }
  errno = salvo;
}

void fecha(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The child's end of a pipe stays blocking, as a terminal's or a file's
// would be; the parent's end never blocks and is not inherited.
bool cano(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  return true;
}

int inicia(const char* programa, const char* const* argv, int saida[2], int erro[2], pid_t& pid) {
  posix_spawn_file_actions_t acoes;
  int r = posix_spawn_file_actions_init(&acoes);
  if (r != 0) return r;
  posix_spawn_file_actions_addopen(&acoes, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&acoes, saida[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&acoes, erro[1], STDERR_FILENO);
  char** args = const_cast<char**>(argv);  // posix_spawn's own signature; nothing is changed
  if (programa == nullptr) {
    r = posix_spawn(&pid, "/proc/self/exe", &acoes, nullptr, args, environ);
  } else {
    r = posix_spawnp(&pid, programa, &acoes, nullptr, args, environ);
  }
  posix_spawn_file_actions_destroy(&acoes);
  return r;
}

void devolve_sinais() {
  for (int i = 0; i < n_sinais; ++i) {
    if (tomado[i]) sigaction(sinais[i], &anterior[i], nullptr);
    tomado[i] = false;
  }
}

// SIGINT and SIGTERM held off while a reaped child's pid is forgotten: the
// handler never signals a number the system may have handed on.
struct SinaisSuspensos {
  sigset_t antes;
  SinaisSuspensos() {
    sigset_t s;
    sigemptyset(&s);
    for (int sinal : sinais) sigaddset(&s, sinal);
    sigprocmask(SIG_BLOCK, &s, &antes);
  }
  ~SinaisSuspensos() { sigprocmask(SIG_SETMASK, &antes, nullptr); }
  SinaisSuspensos(const SinaisSuspensos&) = delete;
  SinaisSuspensos& operator=(const SinaisSuspensos&) = delete;
};

}  // namespace

int filho_inicia(const char* programa, const char* const* argv) {
  if (quantos >= filhos_maximo) {
    errno = EMFILE;
    return -1;
  }
  int saida[2];
  int erro[2];
  if (!cano(saida)) return -1;
  if (!cano(erro)) {
    int codigo = errno;
    fecha(saida[0]);
    fecha(saida[1]);
    errno = codigo;
    return -1;
  }
  pid_t pid = 0;
  int r = inicia(programa, argv, saida, erro, pid);
  fecha(saida[1]);
  fecha(erro[1]);
  if (r != 0) {
    fecha(saida[0]);
    fecha(erro[0]);
    errno = r;
    return -1;
  }
  filhos[quantos] = Filho{{saida[0], erro[0]}};
  pids[quantos] = pid;
  return quantos++;
}

int filho_le(int filho, int canal, char* buf, int n) {
  int& fd = filhos[filho].fd[canal];
  if (fd < 0) return -1;
  ssize_t r = read(fd, buf, static_cast<std::size_t>(n));
  if (r > 0) return static_cast<int>(r);
  if (r < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  fecha(fd);  // its end (or a failure no later read would mend)
  return -1;
}

bool filhos_aguarda(int ms) {
  pollfd fds[filhos_maximo * 2];
  nfds_t n = 0;
  for (int i = 0; i < quantos; ++i) {
    for (int fd : filhos[i].fd) {
      if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
    }
  }
  if (n == 0) return false;
  int r = poll(fds, n, ms);
  return r > 0 || (r < 0 && errno == EINTR);  // a signal: the caller looks again
}

int filho_espera(int filho) {
  pid_t pid = pids[filho];
  if (pid <= 0) return -1;
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  int estado = 0;
  {
    SinaisSuspensos suspensos;
    pids[filho] = 0;
    while (waitpid(pid, &estado, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFSIGNALED(estado)) return 128 + WTERMSIG(estado);
  return WEXITSTATUS(estado);
}

void filhos_vigia(bool liga) {
  if (!liga) {
    devolve_sinais();
    int sinal = sinal_notado;
    if (sinal == 0) return;
    signal(sinal, SIG_DFL);
    raise(sinal);
    _exit(128 + sinal);
  }
  sinal_notado = 0;
  struct sigaction a {};
  sigemptyset(&a.sa_mask);
  a.sa_flags = SA_RESTART;
  a.sa_handler = ao_sinal;
  for (int i = 0; i < n_sinais; ++i) {
    // A signal ignored when the program started (a background job) stays so.
    if (sigaction(sinais[i], nullptr, &anterior[i]) != 0 || anterior[i].sa_handler == SIG_IGN) continue;
    tomado[i] = sigaction(sinais[i], &a, nullptr) == 0;
  }
}

bool filhos_interrompido() { return sinal_notado != 0; }

}  // namespace plat
