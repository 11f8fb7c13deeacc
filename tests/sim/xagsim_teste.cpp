// xagsim as a program: run the binary and talk to it over its line.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <thread>

#include "sim/uart.hpp"
#include "tests/sim/apoio.hpp"

namespace teste {
namespace {

const std::string bom = ".\r\n";

TEST(Xagsim, EcoERespostas) {
  Xagsim sim({"--boot-vector", "0x5a"});
  Linha l(sim.linha());
  ASSERT_TRUE(l.envia_com_eco(":0400100001020304E2\r\n"));
  EXPECT_EQ(l.recebe(3), bom);
  ASSERT_TRUE(l.envia_com_eco(":0400100001020304E3\r\n"));
  EXPECT_EQ(l.recebe(3), "C\r\n");
  ASSERT_TRUE(
      l.envia_com_eco("\x06"
                      "f:00000001FG\n"));
  EXPECT_EQ(l.recebe(3), "R\r\n");
  // With no line end: answered once the line has been quiet.
  ASSERT_TRUE(l.envia_com_eco(":02000085070270"));
  EXPECT_EQ(l.recebe(4), "5A\r\n");
  ASSERT_TRUE(l.envia_com_eco("\r\n"));
  EXPECT_EQ(l.recebe_durante(Ms{150}), "") << "its line end gets no answer";
  EXPECT_EQ(sim.espera(SIGTERM), 0);
  EXPECT_EQ(sim.erros(), "");
}

TEST(Xagsim, LinhaFechadaEReaberta) {
  Xagsim sim({});
  {
    Linha l(sim.linha());
    ASSERT_TRUE(l.envia_com_eco(":00000001FF\n"));
    EXPECT_EQ(l.recebe(3), bom);
  }
  // No one has the line open: xagsim must wait, not spin.
  Ms antes = sim.cpu();
  std::this_thread::sleep_for(Ms{600});
  EXPECT_LT(sim.cpu() - antes, Ms{300});

  for (int vez = 0; vez < 3; ++vez) {
    Linha l(sim.linha());
    ASSERT_TRUE(l.envia_com_eco(":00000001FF\r\n")) << vez;
    EXPECT_EQ(l.recebe(3), bom);
  }
  EXPECT_EQ(sim.espera(SIGINT), 0);
}

TEST(Xagsim, ReabreDepoisDeTIOCEXCL) {
  // As the serial program does, and as an ordinary user: root is exempt.
  Xagsim sim({});
  pid_t filho = fork();
  if (filho == 0) {
    if (geteuid() == 0 && (chmod(sim.linha().c_str(), 0666) != 0 || setuid(65534) != 0)) _exit(9);
    for (int vez = 1; vez <= 3; ++vez) {
      // xagsim lifts the lock once it sees the close, a moment after it.
      std::unique_ptr<Linha> l;
      for (int tentativa = 0; tentativa < 300 && (!l || l->fd() < 0); ++tentativa) {
        if (l) std::this_thread::sleep_for(Ms{10});
        l = std::make_unique<Linha>(sim.linha());
      }
      if (l->fd() < 0) _exit(vez);
      ioctl(l->fd(), TIOCEXCL);
      if (!l->envia_com_eco(":00000001FF\n") || l->recebe(3) != bom) _exit(10 + vez);
    }
    _exit(0);
  }
  int estado = -1;
  ASSERT_EQ(waitpid(filho, &estado, 0), filho);
  EXPECT_EQ(WEXITSTATUS(estado), 0) << "1-3: could not open it that time; 11-13: no answer";
}

TEST(Xagsim, EnvioInicialEInundacaoNadaSePerde) {
  constexpr std::size_t n = 300'000;
  Xagsim sim({"--send", "Hi\\x00\\xff\\r\\n\\\\", "--flood", std::to_string(n)});
  std::this_thread::sleep_for(Ms{50});  // it all waits for the line to open
  Linha l(sim.linha());
  EXPECT_EQ(l.recebe(7), std::string("Hi\0\xff\r\n\\", 7));
  std::string r = l.recebe(n);
  ASSERT_EQ(r.size(), n);
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(r[i], static_cast<char>(0x21 + i % 94)) << "byte " << i;
  EXPECT_EQ(l.recebe_durante(Ms{100}), "");
  ASSERT_TRUE(l.envia_com_eco(":00000001FF\n"));
  EXPECT_EQ(l.recebe(3), bom);
}

TEST(Xagsim, DesligaDepoisDeNBytes) {
  // The echo of the last byte, however late, reaches the line first.
  Xagsim sim({"--hangup-after", "3", "--echo-delay", "150"});
  Linha l(sim.linha());
  ASSERT_TRUE(l.envia_com_eco(":00"));
  EXPECT_TRUE(l.desligada());
  EXPECT_EQ(sim.espera(SIGTERM), 0);

  // With a command, it waits for the command and takes its status.
  Xagsim com({"--hangup-after", "1", "--", "sh", "-c",
              "exec 3<>\"$1\"; printf A >&3; head -c 1 <&3; "
              "[ -z \"$(head -c 1 <&3 2>/dev/null)\" ] && exit 5; exit 1",
              "sh", "{port}"});
  EXPECT_EQ(com.espera(), 5);
  EXPECT_EQ(com.saida(), "A");
}

TEST(Xagsim, DesligaEVoltaNoMesmoCaminho) {
  std::string diario = ficheiro_temporario("religa.txt");
  Xagsim sim({"--replug-after", "3", "300", "--log", diario});
  const std::string caminho = sim.linha();
  EXPECT_TRUE(caminho.starts_with("/dev/shm/xagsim-")) << caminho;
  struct stat st {};
  {
    Linha l(caminho);
    ASSERT_TRUE(l.envia_com_eco(":00"));
    EXPECT_TRUE(l.desligada());
    EXPECT_NE(lstat(caminho.c_str(), &st), 0) << "the path stays while the line is away";
  }
  for (int i = 0; i < 1000 && stat(caminho.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(Ms{10});
  Linha l(caminho);
  // The board kept the start of the record.
  ASSERT_TRUE(l.envia_com_eco("000001FF\n"));
  EXPECT_EQ(l.recebe(3), bom);
  EXPECT_EQ(sim.espera(SIGTERM), 0);
  EXPECT_NE(lstat(caminho.c_str(), &st), 0) << "the link outlives xagsim";
  std::string d = le_ficheiro(diario);
  auto fora = d.find("# unplugged /dev/pts/"), dentro = d.find("# plugged in /dev/pts/");
  EXPECT_TRUE(fora != std::string::npos && dentro > fora) << d;
  EXPECT_EQ(d.substr(0, fora), "rx 3A\ntx 3A\nrx 30\ntx 30\nrx 30\ntx 30\n");
  std::remove(diario.c_str());
}

// What the line brings back for a record sent all at once, and how many
// times the log marks a fault.
struct Falha {
  std::vector<std::string> opcoes;
  std::string volta;
  std::size_t marcas;
  const char* marca;
};

TEST(Xagsim, EcosPerdidosEDeturpados) {
  const std::string r = ":00000001FF\n";
  std::string deturpado;
  for (char c : r) deturpado += static_cast<char>(xagsim::byte_deturpado(static_cast<std::uint8_t>(c)));
  // The device hears the record right whatever becomes of the echoes.
  for (const Falha& f : {Falha{{"--drop", "1"}, bom, r.size(), "# echo dropped\n"},
                         Falha{{"--garble", "1"}, deturpado + bom, r.size(), "# echo garbled\n"},
                         Falha{{"--drop", "0", "--garble", "0"}, r + bom, 0, "# echo"}}) {
    std::string diario = ficheiro_temporario("falhas.txt");
    std::vector<std::string> args = f.opcoes;
    args.insert(args.end(), {"--log", diario});
    Xagsim sim(args);
    Linha l(sim.linha());
    l.envia(r);
    EXPECT_EQ(l.recebe(f.volta.size()), f.volta) << f.opcoes[0];
    EXPECT_EQ(sim.espera(SIGTERM), 0);
    std::string d = le_ficheiro(diario);
    std::size_t n = 0;
    for (auto p = d.find(f.marca); p != std::string::npos; p = d.find(f.marca, p + 1)) ++n;
    EXPECT_EQ(n, f.marcas) << f.opcoes[0] << "\n" << d;
    std::remove(diario.c_str());
  }

  // Half of them, the same half for the same seed.
  auto metade = [&](const char* semente) {
    Xagsim sim({"--drop", "0.5", "--garble", "0.5", "--seed", semente});
    Linha l(sim.linha());
    std::string volta;
    for (int i = 0; i < 10; ++i) {
      l.envia(r);
      volta += l.recebe_durante(Ms{60});
    }
    return volta;
  };
  std::string a = metade("42");
  EXPECT_EQ(metade("42"), a);
  EXPECT_NE(metade("43"), a);
  std::size_t intactos = 0;
  for (std::size_t i = 0; i + 3 <= a.size(); ++i) intactos += a.compare(i, 3, bom) == 0;
  EXPECT_EQ(intactos, 10u) << "every record is answered";
  EXPECT_LT(a.size(), 10 * (r.size() + bom.size())) << "no echo lost";
}

TEST(Xagsim, ParadoOEscritorEspera) {
  Xagsim sim({"--stall-after", "2", "400"});
  Linha l(sim.linha());
  ASSERT_TRUE(l.envia_com_eco(":0"));
  // The line takes nothing more for a while...
  ASSERT_EQ(write(l.fd(), "0", 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  pollfd p{l.fd(), POLLOUT, 0};
  EXPECT_EQ(poll(&p, 1, 100), 0);
  // ...then all of it, in order.
  EXPECT_EQ(poll(&p, 1, static_cast<int>(paciencia.count())), 1);
  ASSERT_TRUE(l.envia_com_eco("0000001FF\n"));
  EXPECT_EQ(l.recebe(3), bom);
}

TEST(Xagsim, ConversaDepoisDeRespostasInteiras) {
  Xagsim sim({"--chatter", "200", "--answer-delay", "150"});
  Linha l(sim.linha());
  l.envia(":00000001FF\n");  // its answer takes 450 ms: chatter falls due twice
  EXPECT_EQ(l.recebe(12 + 3 + 2 * 11), ":00000001FF\n.\r\nchatter 1\r\nchatter 2\r\n");
}

TEST(Xagsim, TaxaErradaDeturpaEDispositivoNaoOuve) {
  Xagsim sim({"--baud", "9600"});
  Linha l(sim.linha());
  termios t{};
  ASSERT_EQ(tcgetattr(l.fd(), &t), 0);
  cfsetspeed(&t, B19200);
  ASSERT_EQ(tcsetattr(l.fd(), TCSANOW, &t), 0);
  const std::string registo = ":00000001FF\n";
  l.envia(registo);
  std::string deturpado = l.recebe(registo.size());
  ASSERT_EQ(deturpado.size(), registo.size());
  for (std::size_t i = 0; i < registo.size(); ++i) {
    EXPECT_NE(deturpado[i], registo[i]);
    EXPECT_NE(deturpado[i], '\0');
  }
  EXPECT_EQ(l.recebe_durante(Ms{100}), "") << "no answer";

  cfsetspeed(&t, B9600);
  t.c_cflag |= CSTOPB;
  ASSERT_EQ(tcsetattr(l.fd(), TCSANOW, &t), 0);
  l.envia("x");
  EXPECT_NE(l.recebe(1), "x") << "two stop bits";

  t.c_cflag &= ~CSTOPB;
  ASSERT_EQ(tcsetattr(l.fd(), TCSANOW, &t), 0);
  // The device saw nothing of the garbled record: this is an empty line.
  ASSERT_TRUE(l.envia_com_eco("\n"));
  EXPECT_EQ(l.recebe(3), "R\r\n");
}

TEST(Xagsim, MudoSemRespostasEOutroEco) {
  Xagsim mudo({"--silent"});
  Xagsim outro({"--no-answer", "--echo-byte", "0"});
  Linha l1(mudo.linha()), l2(outro.linha());
  l1.envia(":00000001FF\n");
  l2.envia(":00000001FF\n");
  EXPECT_EQ(l2.recebe(12), std::string(12, '\0'));
  EXPECT_EQ(l1.recebe_durante(Ms{200}), "");
  EXPECT_EQ(l2.recebe_durante(Ms{1}), "");
}

TEST(Xagsim, AtrasosNuncaAdiantamNemTrocamAOrdem) {
  Xagsim sim({"--echo-delay", "100", "--answer-delay", "20"});
  Linha l(sim.linha());
  auto inicio = std::chrono::steady_clock::now();
  l.envia(":00000001FF\n");  // all at once
  EXPECT_EQ(l.recebe(15), ":00000001FF\n.\r\n");
  EXPECT_GE(std::chrono::steady_clock::now() - inicio, Ms{100 + 3 * 20});
}

// Bytes written at once on a line at `taxa`: at least how long until the
// first echo, and until the last of what comes back.
struct Ritmo {
  std::vector<std::string> opcoes;
  speed_t taxa;
  std::string envio, volta;
  Ms primeiro, todos;
};

TEST(Xagsim, FioELatenciaNuncaAdiantam) {
  const std::string cem(100, 'x'), estado = ":02000085070171\r\n";
  for (const Ritmo& r :
       {Ritmo{{"--wire"}, B9600, cem, cem, Ms{2}, Ms{100}},
        Ritmo{{"--wire"}, B1200, cem.substr(0, 12), cem.substr(0, 12), Ms{16}, Ms{100}},
        Ritmo{{"--latency", "100"}, B9600, cem, cem, Ms{200}, Ms{200}},
        Ritmo{{"--wire", "--answer-on-checksum"}, B9600, estado, ":02000085070171FF\r\n\r\n", Ms{2}, Ms{20}},
        Ritmo{{"--wire"}, B9600, estado, estado + "FF\r\n", Ms{2}, Ms{20}}}) {
    SCOPED_TRACE(r.opcoes.back() + " " + std::to_string(r.envio.size()));
    Xagsim sim(r.opcoes);
    Linha l(sim.linha());
    termios t{};
    ASSERT_EQ(tcgetattr(l.fd(), &t), 0);
    cfsetspeed(&t, r.taxa);
    ASSERT_EQ(tcsetattr(l.fd(), TCSANOW, &t), 0);
    auto inicio = std::chrono::steady_clock::now();
    l.envia(r.envio);
    std::string volta = l.recebe(1);
    EXPECT_GE(std::chrono::steady_clock::now() - inicio, r.primeiro);
    volta += l.recebe(r.volta.size() - 1);
    EXPECT_GE(std::chrono::steady_clock::now() - inicio, r.todos);
    EXPECT_EQ(volta, r.volta);
  }
}

TEST(Xagsim, ImagemEDiarioAoSair) {
  std::string imagem = ficheiro_temporario("imagem.hex");
  std::string diario = ficheiro_temporario("diario.txt");
  Xagsim sim({"--image", imagem, "--log", diario, "--send", "K"});
  Linha l(sim.linha());
  EXPECT_EQ(l.recebe(1), "K");
  for (const char* r :
       {":0400100001020304E2\r\n", ":02300000AABB69\r\n", ":0200008301205A\r\n"}) {  // erases 2000-3FFF
    ASSERT_TRUE(l.envia_com_eco(r));
    EXPECT_EQ(l.recebe(3), bom);
  }
  EXPECT_EQ(sim.espera(SIGTERM), 0);
  EXPECT_EQ(le_ficheiro(imagem), ":0400100001020304E2\n:00000001FF\n");

  std::string d = le_ficheiro(diario);
  EXPECT_TRUE(d.starts_with("tx 4B\nrx 3A\ntx 3A\nrx 30\ntx 30\n")) << d;
  EXPECT_TRUE(d.ends_with("rx 0A\ntx 0A\ntx 2E\ntx 0D\ntx 0A\n")) << d;
  std::remove(imagem.c_str());
  std::remove(diario.c_str());
}

TEST(Xagsim, FlashUsadaVerificaEApagaDevagar) {
  std::string carga = ficheiro_temporario("carga.hex");
  std::string imagem = ficheiro_temporario("imagem.hex");
  std::ofstream(carga) << ":0100100012DD\n:00000001FF\n";
  Xagsim sim({"--preload", carga, "--erase-time", "300", "--image", imagem});
  Linha l(sim.linha());
  ASSERT_TRUE(l.envia_com_eco(":0100100034BB\n"));
  EXPECT_EQ(l.recebe(3), "V\r\n") << "12 AND 34 is 10";
  // Counted from before the record goes: the board counts from its last byte,
  // which its echo brings back only after that.
  auto apagando = std::chrono::steady_clock::now();
  ASSERT_TRUE(l.envia_com_eco(":0200008301007A\n"));
  EXPECT_EQ(l.recebe(3), bom);
  EXPECT_GE(std::chrono::steady_clock::now() - apagando, Ms{300});
  ASSERT_TRUE(l.envia_com_eco(":0100100034BB\n"));
  EXPECT_EQ(l.recebe(3), bom);
  EXPECT_EQ(sim.espera(SIGTERM), 0);
  EXPECT_EQ(le_ficheiro(imagem), ":0100100034BB\n:00000001FF\n");
  std::remove(carga.c_str());
  std::remove(imagem.c_str());

  Xagsim sem_carga({"--preload", carga, "--", "true"});
  EXPECT_EQ(sem_carga.espera(), 1);
  EXPECT_NE(sem_carga.erros().find(carga), std::string::npos);
}

TEST(Xagsim, ComandoNaLinha) {
  // It gets the path, holds none of xagsim's descriptors, talks on the
  // line, and its status comes back; xagsim itself prints nothing.
  Xagsim sim({"--", "sh", "-c",
              "ls -l /proc/$$/fd | grep -q -e ptmx -e inotify -e \"$1\\$\" && exit 1; "
              "exec 3<>\"$1\"; printf Z >&3; head -c 1 <&3; exit 7",
              "sh", "{port}"});
  EXPECT_EQ(sim.espera(), 7);
  EXPECT_EQ(sim.saida(), "Z");
}

TEST(Xagsim, SinaisComComando) {
  Xagsim morto({"--", "sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(morto.espera(), 128 + SIGTERM);

  // SIGINT is the console's, for the command: xagsim carries on.
  Xagsim interrompido({"--", "sh", "-c", "echo up; sleep 0.3; exit 3"});
  ASSERT_TRUE(interrompido.mostra("up\n"));
  EXPECT_EQ(interrompido.espera(SIGINT), 3);

  // SIGTERM goes on to the command.
  Xagsim terminado({"--", "sh", "-c", "trap 'exit 9' TERM; echo up; while :; do sleep 0.02; done"});
  ASSERT_TRUE(terminado.mostra("up\n"));
  EXPECT_EQ(terminado.espera(SIGTERM), 9);
}

TEST(Xagsim, LinhaDeComandoInvalida) {
  Xagsim mau({"--bogus", "--"});
  EXPECT_EQ(mau.espera(), 2);
  EXPECT_TRUE(mau.erros().starts_with("xagsim: unknown option: --bogus\n\nUsage: xagsim"));
  Xagsim ajuda({"--help", "--"});
  EXPECT_EQ(ajuda.espera(), 0);
  EXPECT_TRUE(ajuda.saida().starts_with("Usage: xagsim"));
}

}  // namespace
}  // namespace teste
