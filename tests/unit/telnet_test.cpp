#include "platform/comum/telnet.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/comum/endereco.hpp"

namespace {

using B = std::basic_string<unsigned char>;

B bytes(std::initializer_list<int> v) {
  B b;
  for (int c : v) b.push_back(static_cast<unsigned char>(c));
  return b;
}

// Feeds the pieces one read each; returns the data that came out.
B recebe(telnet::Estado& e, std::initializer_list<B> pedacos) {
  B dados;
  for (B p : pedacos) {
    int n = telnet::recebe(e, p.data(), static_cast<int>(p.size()));
    dados.append(p.data(), static_cast<std::size_t>(n));
  }
  return dados;
}

B respostas(const telnet::Estado& e) { return B(e.resposta, static_cast<std::size_t>(e.resposta_n)); }

constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

}  // namespace

TEST(Telnet, CommandsSplitAcrossReadsNeverReachTheData) {
  telnet::Estado e;
  EXPECT_EQ(recebe(e, {bytes({'a', IAC}), bytes({IAC, 'b', IAC}), bytes({DO}), bytes({3, 'c', IAC, SB, 44}),
                       bytes({106, 0x10, IAC}), bytes({SE, 'd', IAC, 241, 'e'})}),
            bytes({'a', IAC, 'b', 'c', 'd', 'e'}));
}

TEST(Telnet, DoubledFfInsideASubnegotiationIsOneByteOfItsValue) {
  telnet::Estado e;
  // SET-BAUDRATE answer 0x0000FFFF split inside the doubled 0xFF.
  EXPECT_EQ(recebe(e, {bytes({'x', IAC, SB, 44, 101, 0, 0, IAC}), bytes({IAC, IAC, IAC, IAC, SE, 'y'})}),
            bytes({'x', 'y'}));
  EXPECT_TRUE(telnet::respondeu(e, telnet::cmd_taxa));
  EXPECT_EQ(e.taxa, 0xFFFFu);
  EXPECT_FALSE(telnet::respondeu(e, telnet::cmd_bits));
}

TEST(Telnet, OnlyBinaryAndSuppressGoAheadAreAgreedTo) {
  struct Caso {
    B pedido;
    B resposta;
  };
  const Caso casos[] = {
      {bytes({IAC, WILL, 1}), bytes({IAC, DONT, 1})},  // ECHO: the board echoes, not the server
      {bytes({IAC, DO, 1}), bytes({IAC, WONT, 1})},
      {bytes({IAC, DO, 24}), bytes({IAC, WONT, 24})},  // terminal type
      {bytes({IAC, WILL, 0}), bytes({})},              // asked for at the opening already
      {bytes({IAC, DO, 3}), bytes({})},
      {bytes({IAC, DO, 44}), bytes({})},
      {bytes({IAC, WONT, 0}), bytes({IAC, DONT, 0})},  // a change: answered once
      {bytes({IAC, DONT, 44}), bytes({IAC, WONT, 44})},
  };
  for (const Caso& c : casos) {
    telnet::Estado e;
    unsigned char abertura[32];
    telnet::abertura(e, abertura);
    recebe(e, {c.pedido});
    EXPECT_EQ(respostas(e), c.resposta) << int(c.pedido[1]) << " " << int(c.pedido[2]);
    EXPECT_EQ(e.porta_aceita, c.pedido == bytes({IAC, DO, 44}));
  }
}

TEST(Telnet, FfIsDoubledGoingOutAndNeverCutInTwo) {
  const B dados = bytes({1, IAC, 2});
  unsigned char out[8];
  int usados = 0;
  EXPECT_EQ(telnet::escapa(dados.data(), 3, out, 2, usados), 1);  // no room for both halves
  EXPECT_EQ(usados, 1);
  EXPECT_EQ(telnet::escapa(dados.data(), 3, out, 4, usados), 4);
  EXPECT_EQ(B(out, 4), bytes({1, IAC, IAC, 2}));
  EXPECT_EQ(usados, 3);
  unsigned char cmd[16];
  EXPECT_EQ(B(cmd, static_cast<std::size_t>(telnet::comando_taxa(0x1C2FF, cmd))),
            bytes({IAC, SB, 44, 1, 0, 1, 0xC2, IAC, IAC, IAC, SE}));
}

TEST(Endereco, HostAndPort) {
  struct Caso {
    const char* nome;
    const char* host;  // nullptr: refused
    const char* servico;
    bool telnet;
  };
  const Caso casos[] = {
      {"rfc2217://127.0.0.1:7000", "127.0.0.1", "7000", true},
      {"tcp://rack:1", "rack", "1", false},
      {"tcp://[::1]:65535", "::1", "65535", false},
      {"tcp://rack:65536", nullptr, nullptr, false},
      {"tcp://:7000", nullptr, nullptr, false},
      {"tcp://::1:7000", nullptr, nullptr, false},
      {"tcp://[::1]7000", nullptr, nullptr, false},
  };
  for (const Caso& c : casos) {
    endereco::Endereco e;
    ASSERT_EQ(endereco::separa(c.nome, e), c.host != nullptr) << c.nome;
    if (c.host == nullptr) continue;
    EXPECT_STREQ(e.host, c.host);
    EXPECT_STREQ(e.servico, c.servico);
    EXPECT_EQ(e.telnet, c.telnet);
  }
  EXPECT_TRUE(endereco::e_url("rfc2217://x:1"));
  EXPECT_FALSE(endereco::e_url("rfc2217:/x:1"));
}
