#include "sim/opcoes.hpp"

#include <charconv>
#include <functional>
#include <limits>
#include <string_view>

namespace xagsim {

namespace {

constexpr std::uint64_t atraso_maximo_ms = 600'000;

// Decimal, or hex after 0x; the whole text must be the number.
std::optional<std::uint64_t> numero(std::string_view s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  auto [fim, erro] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || erro != std::errc{} || fim != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::uint64_t> numero_ate(std::string_view s, std::uint64_t minimo, std::uint64_t maximo) {
  auto v = numero(s);
  if (!v || *v < minimo || *v > maximo) return std::nullopt;
  return v;
}

int valor_hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One option that takes a value (or two: the second in segundo): stores it
// in o, false when it is invalid.
using Tratador = std::function<bool(Opcoes& o, std::string_view valor, std::string_view segundo)>;

struct ComValor {
  std::string_view nome;
  Tratador trata;
  bool dois_valores = false;
};

bool byte_em(std::string_view v, std::uint8_t& destino) {
  auto n = numero_ate(v, 0, 0xFF);
  if (n) destino = static_cast<std::uint8_t>(*n);
  return n.has_value();
}

bool atraso_em(std::string_view v, Ms& destino) {
  auto n = numero_ate(v, 0, atraso_maximo_ms);
  if (n) destino = Ms{static_cast<Ms::rep>(*n)};
  return n.has_value();
}

// A fraction from 0 to 1, as a decimal number.
bool fracao_em(std::string_view v, double& destino) {
  double p = 0;
  auto [fim, erro] = std::from_chars(v.data(), v.data() + v.size(), p);
  if (v.empty() || erro != std::errc{} || fim != v.data() + v.size() || !(p >= 0 && p <= 1)) return false;
  destino = p;
  return true;
}

// "N MS": a count of bytes from 1 on and a time.
bool depois_em(std::string_view n, std::string_view ms, std::optional<Depois>& destino) {
  auto bytes = numero_ate(n, 1, std::numeric_limits<std::uint64_t>::max());
  Ms tempo{0};
  if (!bytes || !atraso_em(ms, tempo)) return false;
  destino = Depois{*bytes, tempo};
  return true;
}

const ComValor opcoes_com_valor[] = {
    {"--hangup-after",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto n = numero_ate(v, 1, std::numeric_limits<std::uint64_t>::max());
       if (n) o.desliga_apos = n;
       return n.has_value();
     }},
    {"--replug-after",
     [](Opcoes& o, std::string_view v, std::string_view ms) { return depois_em(v, ms, o.religa); }, true},
    {"--stall-after",
     [](Opcoes& o, std::string_view v, std::string_view ms) { return depois_em(v, ms, o.para); }, true},
    {"--drop", [](Opcoes& o, std::string_view v, std::string_view) { return fracao_em(v, o.perde); }},
    {"--garble", [](Opcoes& o, std::string_view v, std::string_view) { return fracao_em(v, o.deturpa); }},
    {"--chatter",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto n = numero_ate(v, 1, atraso_maximo_ms);
       if (n) o.conversa = Ms{static_cast<Ms::rep>(*n)};
       return n.has_value();
     }},
    {"--seed",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto n = numero(v);
       if (n) o.semente = *n;
       return n.has_value();
     }},
    {"--send",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto t = decodifica_escapes(std::string(v));
       if (t) o.envio_inicial += *t;
       return t.has_value();
     }},
    {"--flood",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto n = numero_ate(v, 0, std::uint64_t{1} << 32);
       if (n) o.inundacao = *n;
       return n.has_value();
     }},
    {"--echo-delay",
     [](Opcoes& o, std::string_view v, std::string_view) { return atraso_em(v, o.atraso_eco); }},
    {"--latency", [](Opcoes& o, std::string_view v, std::string_view) { return atraso_em(v, o.latencia); }},
    {"--answer-delay",
     [](Opcoes& o, std::string_view v, std::string_view) { return atraso_em(v, o.atraso_resposta); }},
    {"--echo-byte",
     [](Opcoes& o, std::string_view v, std::string_view) {
       std::uint8_t b = 0;
       if (!byte_em(v, b)) return false;
       o.byte_eco = b;
       return true;
     }},
    {"--image",
     [](Opcoes& o, std::string_view v, std::string_view) {
       o.imagem = v;
       return !v.empty();
     }},
    {"--log",
     [](Opcoes& o, std::string_view v, std::string_view) {
       o.diario = v;
       return !v.empty();
     }},
    {"--baud",
     [](Opcoes& o, std::string_view v, std::string_view) {
       auto n = numero_ate(v, 1, 100'000'000);
       if (n) o.baud = static_cast<long>(*n);
       return n.has_value();
     }},
    {"--preload",
     [](Opcoes& o, std::string_view v, std::string_view) {
       o.carga = v;
       return !v.empty();
     }},
    {"--erase-time",
     [](Opcoes& o, std::string_view v, std::string_view) { return atraso_em(v, o.tempo_apagamento); }},
    {"--status", [](Opcoes& o, std::string_view v, std::string_view) { return byte_em(v, o.estado); }},
    {"--boot-vector",
     [](Opcoes& o, std::string_view v, std::string_view) { return byte_em(v, o.vetor_arranque); }},
};

const ComValor* procura(std::string_view nome) {
  for (const auto& c : opcoes_com_valor)
    if (c.nome == nome) return &c;
  return nullptr;
}

// Flags and options with a value ("--opt VALUE" or "--opt=VALUE"); stops at
// "--". Returns the index of the first argument not taken, or sets erro.
std::size_t le_chaves(const std::vector<std::string>& args, Opcoes& o, LeituraOpcoes& r) {
  std::size_t i = 0;
  for (; i < args.size() && r.erro.empty() && !r.ajuda; ++i) {
    std::string_view a = args[i];
    if (a == "--") break;
    if (a == "-h" || a == "--help") {
      r.ajuda = true;
    } else if (a == "--silent") {
      o.mudo = true;
    } else if (a == "--no-answer") {
      o.sem_respostas = true;
    } else if (a == "--wire") {
      o.fio = true;
    } else if (a == "--answer-on-checksum") {
      o.responde_no_checksum = true;
    } else {
      auto igual = a.find('=');
      std::string_view nome = a.substr(0, igual);
      const ComValor* c = procura(nome);
      if (!c) {
        r.erro = "unknown option: " + std::string(a);
        break;
      }
      std::string_view valor;
      if (igual != std::string_view::npos) {
        valor = a.substr(igual + 1);
      } else if (i + 1 < args.size()) {
        valor = args[++i];
      } else {
        r.erro = std::string(nome) + " needs a value";
        break;
      }
      std::string_view segundo;
      if (c->dois_valores) {
        if (i + 1 == args.size()) {
          r.erro = std::string(nome) + " needs two values";
          break;
        }
        segundo = args[++i];
      }
      if (!c->trata(o, valor, segundo)) {
        std::string mau(valor);
        if (c->dois_valores) mau.append(1, ' ').append(segundo);
        r.erro = "bad value for " + std::string(nome) + ": " + mau;
      }
    }
  }
  return i;
}

}  // namespace

std::optional<std::string> decodifica_escapes(const std::string& texto) {
  std::string s;
  for (std::size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] != '\\') {
      s += texto[i];
      continue;
    }
    if (++i == texto.size()) return std::nullopt;
    switch (texto[i]) {
      case 'n': s += '\n'; break;
      case 'r': s += '\r'; break;
      case 't': s += '\t'; break;
      case '\\': s += '\\'; break;
      case 'x': {
        if (i + 2 >= texto.size()) return std::nullopt;
        int alto = valor_hex(texto[i + 1]);
        int baixo = valor_hex(texto[i + 2]);
        if (alto < 0 || baixo < 0) return std::nullopt;
        s += static_cast<char>(alto * 16 + baixo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return s;
}

LeituraOpcoes le_opcoes(const std::vector<std::string>& args) {
  LeituraOpcoes r;
  Opcoes o;
  std::size_t i = le_chaves(args, o, r);
  if (r.ajuda || !r.erro.empty()) return r;
  if (i < args.size()) {  // args[i] is "--"
    o.comando.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    if (o.comando.empty()) {
      r.erro = "no command after --";
      return r;
    }
  }
  r.opcoes = std::move(o);
  return r;
}

const char* texto_uso() {
  return R"(Usage: xagsim [options] [-- COMMAND [ARGS...]]

Plays an XAG49 board running its programming firmware, on a pseudo-terminal.
Without COMMAND it prints the line's path (a /dev/pts/N) and serves the line
until SIGINT or SIGTERM. With COMMAND it runs it with every "{port}" in the
arguments replaced by that path, prints nothing, and exits with its status
(128+N if it died of signal N). The line may be closed and opened again,
TIOCEXCL or not.

Options:
  --silent            a dead board: no echo, no answers
  --no-answer         echo, but never answer
  --echo-byte B       echo the byte B instead of each byte received
  --echo-delay MS     echo each byte MS milliseconds after it arrives
  --answer-delay MS   wait MS milliseconds before each answer character
  --wire              a real line's time: each byte takes its 10 bit times
                      at the rate the program has set on the line (read
                      again whenever bytes go, so a change of rate counts),
                      one byte after another, each direction on its own:
                      what the program writes reaches the device, and the
                      echoes, answers and chatter reach the program, no
                      sooner. At most 4096 bytes are taken from the program
                      ahead of the device. Without it bytes pass at once
  --latency MS        each byte, each way, arrives MS milliseconds later
                      still, as through a USB adapter (on top of --wire's
                      pacing, or alone)
  --answer-on-checksum
                      act on a command record (types 83, 84, 85) as soon as
                      its last checksum digit comes, as a firmware counting
                      the record's characters does: its answer follows that
                      digit's echo at once, and its line end, if any, gets
                      none. Data records are answered after the LF as ever
  --hangup-after N    once the Nth byte received has been echoed and read,
                      hang up the line for good
  --replug-after N MS once the Nth byte received has been echoed and read,
                      the line goes away as an unplugged USB adapter does
                      (the program's side hangs up, the /dev/pts node goes)
                      and comes back MS milliseconds later, once, as a new
                      /dev/pts/N. The board keeps its memory. Its stable
                      path is a symbolic link, /dev/shm/xagsim-PID, absent
                      while the line is away: that is the path printed and
                      put for {port}; xagsim removes it when it exits
  --drop P            lose that fraction P (0 to 1) of the echoes: the device
                      takes the byte in, but no echo comes back
  --garble P          for that fraction of the bytes received, echo a wrong
                      byte (never 0x00, never the byte itself); the device
                      takes the right one in
  --stall-after N MS  after the Nth byte received (which is still echoed),
                      take nothing from the line for MS milliseconds, once,
                      as a device holding its flow control does: the
                      program's writes block at once (a non-blocking write
                      fails with EAGAIN, poll never finds the line
                      writable); bytes it wrote before are kept and taken,
                      in order, when the stall ends. Echoes and answers
                      already due, and --chatter, still go out meanwhile
  --chatter MS        every MS milliseconds the board says a line of its
                      own, "chatter N<CR><LF>" with N = 1, 2, 3..., between
                      whole echoes and answers, never inside them
  --seed S            seed of the random choices of --drop and --garble
                      (default 1): the same seed and the same bytes give the
                      same faults
  --send TEXT         send TEXT at start; escapes \n \r \t \\ \xHH
  --flood N           send N bytes at start: '!'..'~' over and over
  --baud RATE         the device runs at RATE, 8N1; while the line is set
                      otherwise, each byte gets a garbled byte instead of
                      its echo, and the device never sees it
  --status B          the status byte at start (default 0xFF)
  --boot-vector B     the boot vector at start (default 0x00)
  --preload FILE.hex  start as a used board whose memory holds that image
                      (data records up to the end record, as an upload
                      leaves them): its cells count as written
  --erase-time MS     answer each block erase MS milliseconds after its
                      record, as flash takes time to erase (default 0)
  --image FILE        at exit, write what data records stored to FILE as
                      Intel HEX: type-00 records of up to 16 bytes, upper
                      case, LF line ends, then :00000001FF
  --log FILE          append "rx HH" for each byte received and "tx HH" for
                      each byte sent, in the order they happen, and a line
                      "# WHAT" where a fault struck: "# echo dropped" or
                      "# echo garbled" after the byte's rx line, "# stalled"
                      and "# reading again", "# unplugged /dev/pts/N" and
                      "# plugged in /dev/pts/N"
  -h, --help          this text
Numbers are decimal, or hex after 0x.

The device echoes each byte, then reads Intel HEX records, ":LLAAAATTDD..CC"
in hex digits of either case, CC making the bytes add up to 0 (mod 256). A
line ends with LF, a CR before it ignored; a ':' starts a record afresh, so
what came before it on the line (the rate handshake, say) does not count.
After the echo of each LF comes one answer of three characters, here as
xagterm's --answer takes them:
  '.\r\n'     a good record, done
  'V\r\n'     a data record whose bytes did not all take (verify failed)
  'C\r\n'     a wrong checksum
  'R\r\n'     anything else: no ':', a bad digit, a length other than
              11+2*LL, an unknown type, a command not at address 0000, an
              empty line
so an upload that stops at the first line the board did not take is
  xagsim -- xagterm '{port}' b=115200 FILE.hex --batch --answer '.\r\n'
When a line holds a complete record (by LL) and 20 ms pass without another
byte, the record is acted on and answered at once; its LF gets no answer
(with --answer-on-checksum a command record needs no such pause).
Record types:
  00            data: stored from AAAA on, wrapping past FFFF, as flash
                stores it: a write only clears bits, each byte ANDed with
                what the cell held (FF once erased); a record over cells
                written since their last erase that do not end up holding
                its data is answered 'V\r\n'. Boards start erased (all FF)
  01            end of file
  83 01 BB      erase block BB to FF (no longer written): 00 0000-1FFF,
                20 2000-3FFF, 40 4000-7FFF, 80 8000-BFFF, C0 C000-FFFF
  83 04, 83 06 01 C0, 83 06 01 F0, 83 06 01 F8
                in this order: the fourth clears the status byte to 00
  84 SSSS EEEE 00
                list memory S..E (past FFFF if E < S) in lines
                "AAAA: XX XX ..<CR><LF>" of 16 bytes, unwritten ones FF;
                no other answer
  85 07 01      answer the status byte as "HH<CR><LF>"
  85 07 02      the boot vector likewise

Exit status: 0; the command's; 1 when the line cannot be made, the --preload
image read, or the image written; 2 for a bad command line.
)";
}

}  // namespace xagsim
