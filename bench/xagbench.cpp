// xagbench: how fast xagterm is on this machine, on pseudo-terminals.
//
// The benchmark is the console (a pty that xagterm has as its terminal) and
// the device (the master of a second pty that xagterm has as its port). It
// measures
//   - wake-ups of an idle terminal, and of one whose line has hung up;
//   - key to line and line to console latency;
//   - a flood from the line shown on the console;
//   - an upload to a device that echoes and answers at once, against the
//     floor of 1 ms per poll the echo discipline sets;
//   - uploads to xagsim on a line at its real pace (--wire) at 115200, in
//     lockstep and with --fast, against the wire time.
// Figures, never verdicts: nothing here fails on a slow machine.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_desde(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

[[noreturn]] void morre(const char* o_que) {
  std::perror(o_que);
  std::exit(2);
}

// --- the two pseudo-terminals and the program ---------------------------------

struct Sessao {
  int console = -1;  // master of xagterm's console
  int linha = -1;    // master of xagterm's port: the device's end
  pid_t pid = -1;
};

int abre_linha(std::string& caminho) {
  int mestre = -1;
  int escravo = -1;
  if (openpty(&mestre, &escravo, nullptr, nullptr, nullptr) != 0) morre("openpty");
  termios t{};
  tcgetattr(mestre, &t);
  cfmakeraw(&t);
  tcsetattr(mestre, TCSANOW, &t);
  caminho = ttyname(escravo);
  close(escravo);  // xagterm opens it by name
  fcntl(mestre, F_SETFL, O_NONBLOCK);
  fcntl(mestre, F_SETFD, FD_CLOEXEC);  // only the device holds this end
  return mestre;
}

// Where the allocation counter is preloaded, the file it reports to.
struct Preload {
  const char* biblioteca = nullptr;
  const char* relatorio = nullptr;
};

Sessao inicia(const char* xagterm, const std::vector<std::string>& extra, Preload preload = {}) {
  Sessao s;
  std::string porta;
  s.linha = abre_linha(porta);
  // A cooked console that shows exactly what it is given.
  termios t{};
  cfmakeraw(&t);
  t.c_lflag |= ISIG;
  t.c_cc[VINTR] = 3;
  t.c_cc[VMIN] = 1;
  s.pid = forkpty(&s.console, nullptr, &t, nullptr);
  if (s.pid < 0) morre("forkpty");
  if (s.pid == 0) {
    std::vector<std::string> args{xagterm, porta, "b=115200"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (preload.biblioteca != nullptr) {
      setenv("LD_PRELOAD", preload.biblioteca, 1);
      setenv("XAGBENCH_HEAP", preload.relatorio, 1);
    }
    execv(xagterm, argv.data());
    _exit(127);
  }
  fcntl(s.console, F_SETFL, O_NONBLOCK);
  return s;
}

void termina(Sessao& s) {
  kill(s.pid, SIGKILL);
  waitpid(s.pid, nullptr, 0);
  close(s.console);
  if (s.linha >= 0) close(s.linha);
}

// Reads from fd until `quantos` bytes came or the patience ran out.
std::string le(int fd, std::size_t quantos, int paciencia_ms = 5000) {
  std::string r;
  auto t0 = Clock::now();
  char buf[65536];
  while (r.size() < quantos && ms_desde(t0) < paciencia_ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) r.append(buf, static_cast<std::size_t>(n));
  }
  return r;
}

// Reads from fd until the text has been seen.
bool espera_texto(int fd, const std::string& texto, int paciencia_ms = 5000) {
  std::string r;
  auto t0 = Clock::now();
  char buf[4096];
  while (r.find(texto) == std::string::npos) {
    if (ms_desde(t0) > paciencia_ms) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) r.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

void escreve(int fd, const char* dados, std::size_t n) {
  while (n > 0) {
    ssize_t r = write(fd, dados, n);
    if (r > 0) {
      dados += r;
      n -= static_cast<std::size_t>(r);
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 10);
    }
  }
}

long trocas_de_contexto(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  long total = 0;
  for (std::string linha; std::getline(f, linha);) {
    if (linha.rfind("voluntary_ctxt_switches:", 0) == 0 ||
        linha.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      total += std::atol(linha.c_str() + linha.find(':') + 1);
    }
  }
  return total;
}

Sessao pronta(const char* xagterm, const std::vector<std::string>& extra = {}) {
  Sessao s = inicia(xagterm, extra);
  if (!espera_texto(s.console, "XAG49")) {
    std::fprintf(stderr, "xagterm did not start\n");
    std::exit(2);
  }
  return s;
}

// --- the measurements ----------------------------------------------------------

double acordares_por_segundo(Sessao& s, double segundos) {
  long antes = trocas_de_contexto(s.pid);
  usleep(static_cast<useconds_t>(segundos * 1e6));
  return static_cast<double>(trocas_de_contexto(s.pid) - antes) / segundos;
}

struct Percentis {
  double p50;
  double p99;
  double max;
};

Percentis percentis(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 99 / 100], v.back()};
}

// One byte written at `de`, timed until it is read at `para`.
Percentis latencia(int de, int para, int amostras) {
  std::vector<double> ms;
  char c = 'a';
  for (int i = 0; i < amostras; ++i) {
    le(para, 0, 0);
    auto t0 = Clock::now();
    escreve(de, &c, 1);
    for (;;) {
      pollfd p{para, POLLIN, 0};
      poll(&p, 1, 1000);
      char b = 0;
      if (read(para, &b, 1) == 1 && b == c) break;
      if (ms_desde(t0) > 2000) break;
    }
    ms.push_back(ms_desde(t0));
    c = static_cast<char>(c == 'z' ? 'a' : c + 1);
    usleep(200);
  }
  return percentis(ms);
}

struct Enxurrada {
  double mb_por_s;
  bool intacta;
};

Enxurrada enxurrada(Sessao& s, std::size_t bytes) {
  std::string dados(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) dados[i] = static_cast<char>(0x21 + i % 94);
  std::string visto;
  visto.reserve(bytes);
  std::size_t enviados = 0;
  char buf[65536];
  auto t0 = Clock::now();
  while (visto.size() < bytes && ms_desde(t0) < 30000) {
    pollfd p[2] = {{s.console, POLLIN, 0}, {s.linha, enviados < bytes ? short(POLLOUT) : short(0), 0}};
    poll(p, 2, 100);
    if (p[1].revents & POLLOUT) {
      ssize_t n = write(s.linha, dados.data() + enviados, std::min<std::size_t>(4096, bytes - enviados));
      if (n > 0) enviados += static_cast<std::size_t>(n);
    }
    if (p[0].revents & POLLIN) {
      ssize_t n = read(s.console, buf, sizeof buf);
      if (n > 0) visto.append(buf, static_cast<std::size_t>(n));
    }
  }
  double segundos = ms_desde(t0) / 1000.0;
  return {static_cast<double>(visto.size()) / 1e6 / segundos, visto == dados};
}

// The flood on two fresh sessions, without and with --log: what keeping a
// record of the session costs.
void enxurrada_com_registo(const char* xagterm, std::size_t bytes) {
  char registo[] = "/tmp/xagbench-log-XXXXXX";
  close(mkstemp(registo));
  Sessao sem = pronta(xagterm);
  Enxurrada a = enxurrada(sem, bytes);
  termina(sem);
  Sessao com = pronta(xagterm, {"--log", registo});
  Enxurrada b = enxurrada(com, bytes);
  termina(com);
  unlink(registo);
  std::printf("flood with --log:    %.2f MB/s against %.2f MB/s without (%.0f %%) for %zu KiB, %s\n",
              b.mb_por_s, a.mb_por_s, 100.0 * b.mb_por_s / a.mb_por_s, bytes / 1024,
              a.intacta && b.intacta ? "nothing lost" : "BYTES LOST OR CHANGED");
}

std::string arquivo_hex(int linhas, int& caracteres) {
  std::string r;
  char buf[64];
  for (int l = 0; l < linhas; ++l) {
    unsigned endereco = static_cast<unsigned>(l * 16);
    unsigned soma = 0x10 + (endereco >> 8) + (endereco & 0xFF);
    std::snprintf(buf, sizeof buf, ":10%04X00", endereco);
    r += buf;
    for (int i = 0; i < 16; ++i) {
      unsigned b = static_cast<unsigned>((l * 7 + i * 13) & 0xFF);
      soma += b;
      std::snprintf(buf, sizeof buf, "%02X", b);
      r += buf;
    }
    std::snprintf(buf, sizeof buf, "%02X\r\n", (0x100 - (soma & 0xFF)) & 0xFF);
    r += buf;
  }
  r += ":00000001FF\r\n";
  caracteres = static_cast<int>(r.size());
  return r;
}

struct Upload {
  int caracteres;
  int linhas;
  double ms;
  double piso_ms;
};

// Plays a device that echoes every byte the moment it comes and answers
// ".\r\n" after each line feed, until the key '#' typed at the start reaches
// the line: xagterm sends it once the upload has returned to the terminal
// loop. Returns the time from the upload's first byte to then, in ms.
double serve_upload(Sessao& s) {
  Clock::time_point primeiro{};
  bool comecou = false;
  char buf[4096];
  auto t0 = Clock::now();
  while (ms_desde(t0) < 120000) {
    pollfd p{s.linha, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = read(s.linha, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) {
      if (!comecou) {
        primeiro = Clock::now();
        comecou = true;
      }
      if (buf[i] == '#') return ms_desde(primeiro);
      escreve(s.linha, &buf[i], 1);
      if (buf[i] == '\n') escreve(s.linha, ".\r\n", 3);
    }
  }
  return -1;
}

struct ArquivoHex {
  char nome[32] = "/tmp/xagbench-XXXXXX.hex";
  int caracteres = 0;
  int linhas = 0;
  explicit ArquivoHex(int linhas_de_dados) : linhas(linhas_de_dados + 1) {
    std::string hex = arquivo_hex(linhas_de_dados, caracteres);
    int fd = mkstemps(nome, 4);
    escreve(fd, hex.data(), hex.size());
    close(fd);
  }
  ~ArquivoHex() { unlink(nome); }
};

Upload upload(const char* xagterm, int linhas_de_dados) {
  ArquivoHex f(linhas_de_dados);
  Sessao s = inicia(xagterm, {f.nome});
  escreve(s.console, "#", 1);
  double ms = serve_upload(s);
  termina(s);
  return {f.caracteres, f.linhas, ms, static_cast<double>(f.caracteres + 3 * f.linhas)};
}

// --- a line that goes away and comes back -------------------------------------

struct Reconexao {
  double acordares_por_s = -1;  // while waiting for the line
  double media_ms = -1;         // device back -> its first byte on the console
  double max_ms = -1;
};

// xagterm on a stable name under /dev/shm that points at a fresh pty each
// time the device is plugged in. Unplugging hangs the pty up and removes the
// name; plugging in points the name at a new pty that already holds one byte.
Reconexao reconexao(const char* xagterm, int vezes, double ocioso_s) {
  Reconexao r;
  char pasta[] = "/dev/shm/xagbench-XXXXXX";
  if (mkdtemp(pasta) == nullptr) morre("mkdtemp");
  std::string nome = std::string(pasta) + "/porta";
  std::string novo = nome + ".novo";
  auto liga = [&](int& mestre) {
    std::string caminho;
    mestre = abre_linha(caminho);
    symlink(caminho.c_str(), novo.c_str());
    rename(novo.c_str(), nome.c_str());
  };
  int linha = -1;
  liga(linha);
  termios t{};
  cfmakeraw(&t);
  int console = -1;
  pid_t pid = forkpty(&console, nullptr, &t, nullptr);
  if (pid < 0) morre("forkpty");
  if (pid == 0) {
    execl(xagterm, xagterm, nome.c_str(), "b=115200", static_cast<char*>(nullptr));
    _exit(127);
  }
  fcntl(console, F_SETFL, O_NONBLOCK);
  espera_texto(console, "XAG49");
  double soma = 0;
  for (int i = 0; i < vezes; ++i) {
    close(linha);
    unlink(nome.c_str());
    espera_texto(console, "(Ctrl-X sai)");
    if (i == 0) {
      long antes = trocas_de_contexto(pid);
      usleep(static_cast<useconds_t>(ocioso_s * 1e6));
      r.acordares_por_s = static_cast<double>(trocas_de_contexto(pid) - antes) / ocioso_s;
    } else {
      usleep(static_cast<useconds_t>(50000 + 97000 * i % 250000));  // away for a while, any phase
    }
    auto t0 = Clock::now();
    liga(linha);
    escreve(linha, "R", 1);
    espera_texto(console, "R");
    double ms = ms_desde(t0);
    soma += ms;
    r.max_ms = std::max(r.max_ms, ms);
  }
  r.media_ms = soma / vezes;
  escreve(console, "\x18", 1);
  waitpid(pid, nullptr, 0);
  close(console);
  close(linha);
  unlink(nome.c_str());
  rmdir(pasta);
  return r;
}

// --- uploads to xagsim on a line at its real pace --------------------------

constexpr double taxa_fio = 115200;

// How long one run of `xagsim OPTIONS -- xagterm PORT b=115200 ARGS` took,
// from its start to its end, and how it ended. xagterm's standard error is
// a pipe, so it shows no progress line; its output goes to /dev/null.
struct Corrida {
  int estado = -1;
  double ms = 0;
  std::string erros;  // what they said on standard error
};

Corrida corre(const char* xagsim, const char* xagterm, const std::vector<std::string>& do_sim,
              const std::vector<std::string>& do_xagterm) {
  std::vector<std::string> args{xagsim};
  args.insert(args.end(), do_sim.begin(), do_sim.end());
  args.insert(args.end(), {"--", xagterm, "{port}", "b=115200"});
  args.insert(args.end(), do_xagterm.begin(), do_xagterm.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int erros[2];
  if (pipe(erros) != 0) morre("pipe");
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid < 0) morre("fork");
  if (pid == 0) {
    int nulo = open("/dev/null", O_WRONLY);
    dup2(nulo, STDOUT_FILENO);
    dup2(erros[1], STDERR_FILENO);
    close(erros[0]);
    execv(xagsim, argv.data());
    _exit(127);
  }
  close(erros[1]);
  Corrida c;
  char buf[4096];
  for (ssize_t n; (n = read(erros[0], buf, sizeof buf)) > 0;)
    c.erros.append(buf, static_cast<std::size_t>(n));
  close(erros[0]);
  int estado = 0;
  waitpid(pid, &estado, 0);
  c.ms = ms_desde(t0);
  c.estado = WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
  return c;
}

// Whether this xagterm knows --fast: its help names it.
bool tem_rapido(const char* xagterm) {
  std::string cmd = std::string("'") + xagterm + "' --help 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return false;
  std::string ajuda;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) ajuda.append(buf, n);
  pclose(p);
  return ajuda.find("--fast") != std::string::npos;
}

// A figure as measured and as a multiple of `de`, and the same without the
// start-up and exit of the two programs.
void mostra_razao(double ms, double de, double inicio_ms, const char* de_que) {
  std::printf("%9.1f ms, %.3f x %s (%.3f x without start-up and exit)\n", ms, ms / de, de_que,
              (ms - inicio_ms) / de);
}

void upload_no_fio(const char* xagsim, const char* xagterm, int linhas_de_dados, bool rapido,
                   double inicio_ms) {
  ArquivoHex f(linhas_de_dados);
  double caracteres_na_linha = f.caracteres + 3.0 * f.linhas;
  double fio_ms = caracteres_na_linha * 10 * 1000 / taxa_fio;
  std::printf("  %d characters in %d lines, wire time %.1f ms:\n", f.caracteres, f.linhas, fio_ms);
  Corrida passo = corre(xagsim, xagterm, {"--wire"}, {f.nome, "--batch"});
  if (passo.estado != 0) {
    std::printf("    lockstep --batch:            FAILED, exit status %d: %s", passo.estado,
                passo.erros.empty() ? "\n" : passo.erros.c_str());
  } else {
    std::printf("    %-28s ", "lockstep --batch:");
    char piso[64];
    std::snprintf(piso, sizeof piso, "its floor of %.0f ms", caracteres_na_linha);
    mostra_razao(passo.ms, caracteres_na_linha, inicio_ms, piso);
  }
  struct Modo {
    const char* nome;
    std::vector<std::string> do_sim;
  };
  for (const Modo& m : {Modo{"--batch --fast:", {"--wire"}},
                        Modo{"--batch --fast, latency 1:", {"--wire", "--latency", "1"}}}) {
    Corrida c;
    if (rapido) c = corre(xagsim, xagterm, m.do_sim, {f.nome, "--batch", "--fast"});
    std::printf("    %-28s ", m.nome);
    if (!rapido || c.estado != 0)
      std::printf("fast: not available in this build\n");
    else
      mostra_razao(c.ms, fio_ms, inicio_ms, "the wire time");
  }
}

// The whole flash cycle on the 32 KiB image: handshake, the erase of the
// three blocks it touches (each answered `apagamento_ms` late, as flash
// takes time to erase), the upload, the status byte cleared and read back.
void ciclo_no_fio(const char* xagsim, const char* xagterm, double inicio_ms) {
  constexpr int apagamento_ms = 20;
  constexpr int blocos_tocados = 3;  // 0000-7FFF: blocks 0, 2 and 4
  // What the cycle puts on the line besides the file, each record with its
  // answer: 'f', three erase records (16 + 3), the four clear-status records
  // (14 + 3, 3 x (18 + 3)), the status and boot vector records (16 + 4, 15 + 4).
  constexpr double caracteres_do_ciclo = 1 + 3 * 19 + 17 + 3 * 21 + 20 + 19;
  ArquivoHex f(2048);
  double fio_ms = (f.caracteres + 3.0 * f.linhas + caracteres_do_ciclo) * 10 * 1000 / taxa_fio;
  double orcamento_ms = fio_ms + apagamento_ms * blocos_tocados;
  Corrida c = corre(xagsim, xagterm, {"--wire", "--erase-time", std::to_string(apagamento_ms)},
                    {f.nome, "--batch", "--fast", "--erase", "--clear-status", "--status"});
  std::printf("    %-28s ", "the flash cycle:");
  if (c.estado != 0) {
    std::printf("FAILED, exit status %d: %s", c.estado, c.erros.empty() ? "\n" : c.erros.c_str());
    return;
  }
  char de_que[96];
  std::snprintf(de_que, sizeof de_que, "the wire time %.1f ms + %d erase answers of %d ms", fio_ms,
                blocos_tocados, apagamento_ms);
  mostra_razao(c.ms, orcamento_ms, inicio_ms, de_que);
}

void uploads_no_fio(const char* xagsim, const char* xagterm, bool rapido_so) {
  // Start-up and exit, with nothing to send but the end record: part of every
  // figure below.
  // The two programs started and ended with nothing sent (xagterm --version):
  // the median of a few runs.
  std::vector<double> inicios;
  for (int i = 0; i < 5; ++i) inicios.push_back(corre(xagsim, xagterm, {"--wire"}, {"--version"}).ms);
  std::sort(inicios.begin(), inicios.end());
  double inicio_ms = inicios[inicios.size() / 2];
  std::printf("upload against xagsim --wire at %.0f baud (start-up and exit of both: %.1f ms):\n", taxa_fio,
              inicio_ms);
  bool rapido = tem_rapido(xagterm);
  upload_no_fio(xagsim, xagterm, rapido_so ? 10 : 100, rapido, inicio_ms);
  if (!rapido_so) upload_no_fio(xagsim, xagterm, 2048, rapido, inicio_ms);  // 32 KiB from 0000
  if (!rapido_so && rapido) ciclo_no_fio(xagsim, xagterm, inicio_ms);
}

#ifdef CONTA_MALLOC_PATH
// A whole session with the allocation counter preloaded: start-up, an
// upload, keys, a flood, Ctrl-X. Returns {all allocations, xagterm's own}.
std::pair<int, int> alocacoes(const char* xagterm) {
  ArquivoHex f(10);
  char relatorio[] = "/tmp/xagbench-heap-XXXXXX";
  close(mkstemp(relatorio));
  Sessao s = inicia(xagterm, {f.nome}, {CONTA_MALLOC_PATH, relatorio});
  escreve(s.console, "#", 1);
  serve_upload(s);
  escreve(s.console, "hello\r", 6);
  enxurrada(s, 16 * 1024);
  escreve(s.console, "\x18", 1);
  int estado = 0;
  waitpid(s.pid, &estado, 0);
  close(s.console);
  close(s.linha);
  std::pair<int, int> r{-1, -1};
  if (std::FILE* rel = std::fopen(relatorio, "r")) {
    if (std::fscanf(rel, "%d %d", &r.first, &r.second) != 2) r = {-1, -1};
    std::fclose(rel);
  }
  unlink(relatorio);
  return r;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const char* xagterm = XAGTERM_PATH;
  bool rapido = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  double ocioso_s = rapido ? 0.5 : 3.0;
  int amostras = rapido ? 50 : 2000;
  std::size_t inundacao = rapido ? 20 * 1024 : 200 * 1024;
  int linhas_upload = rapido ? 10 : 100;

  std::printf("xagbench: %s\n", xagterm);
  {
    Sessao s = pronta(xagterm);
    std::printf("idle terminal:       %.1f wake-ups/s over %.1f s\n", acordares_por_segundo(s, ocioso_s),
                ocioso_s);
    Percentis k = latencia(s.console, s.linha, amostras);
    std::printf("key to line:         p50 %.3f ms  p99 %.3f ms  max %.3f ms  (%d keys)\n", k.p50, k.p99,
                k.max, amostras);
    Percentis l = latencia(s.linha, s.console, amostras);
    std::printf("line to console:     p50 %.3f ms  p99 %.3f ms  max %.3f ms  (%d bytes)\n", l.p50, l.p99,
                l.max, amostras);
    Enxurrada e = enxurrada(s, inundacao);
    std::printf("flood line→console:  %.2f MB/s for %zu KiB, %s\n", e.mb_por_s, inundacao / 1024,
                e.intacta ? "nothing lost" : "BYTES LOST OR CHANGED");
    close(s.linha);
    s.linha = -1;
    usleep(100000);
    std::printf("line hung up:        %.1f wake-ups/s over %.1f s\n", acordares_por_segundo(s, ocioso_s),
                ocioso_s);
    termina(s);
  }
  {
    Reconexao r = reconexao(xagterm, rapido ? 2 : 10, ocioso_s);
    std::printf(
        "line away:           %.1f wake-ups/s over %.1f s while waiting for it\n"
        "line back:           first byte shown after %.1f ms on average, %.1f ms at most (%d times)\n",
        r.acordares_por_s, ocioso_s, r.media_ms, r.max_ms, rapido ? 2 : 10);
  }
  enxurrada_com_registo(xagterm, inundacao);
  Upload u = upload(xagterm, linhas_upload);
  std::printf(
      "upload:              %d characters in %d lines, %.1f ms: %.4f ms per character,\n"
      "                     %.3f x the floor of %.0f ms (1 ms per poll: characters + 3 x lines)\n",
      u.caracteres, u.linhas, u.ms, u.ms / u.caracteres, u.ms / u.piso_ms, u.piso_ms);
  // Every poll waits its turn for a processor: on a busy machine the figure
  // measures the machine's load as much as the program.
  double carga[1] = {-1};
  if (getloadavg(carga, 1) == 1) {
    std::printf("                     load average %.2f while it ran\n", carga[0]);
  }
#ifdef XAGSIM_PATH
  uploads_no_fio(XAGSIM_PATH, xagterm, rapido);
#endif
#ifdef CONTA_MALLOC_PATH
  auto [todas, proprias] = alocacoes(xagterm);
  std::printf(
      "heap:                %d allocations by xagterm's own code in a whole session\n"
      "                     (%d by the C library: opening the hex file, stdio)\n",
      proprias, todas - proprias);
#endif
  return 0;
}
