#include "saida/saida.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

std::string em_stderr(const std::function<void()>& f) {
  fake::reinicia();
  Captura erros(stderr);
  f();
  return erros.texto();
}

struct Conversao {
  const char* nome;
  std::function<void()> relato;
  std::string esperado;  // after "xagterm: ", before the line end
};

}  // namespace

// Every conversion the reports use, read as its own type.
TEST(Relata, EachConversionAsPrintfGivesIt) {
  const Conversao tabela[] = {
      {"s", [] { relata("%s: linha %d", "p.hex", 3); }, "p.hex: linha 3"},
      {"d", [] { relata("%d", -42); }, "-42"},
      {"i", [] { relata("%i", 7); }, "7"},
      {"u", [] { relata("%u", 4000000000U); }, "4000000000"},
      {"x", [] { relata("%x", 255); }, "ff"},
      {"X", [] { relata("%02X", 10); }, "0A"},
      {"o", [] { relata("%o", 8); }, "10"},
      {"ld", [] { relata("%ld", LONG_MIN); }, std::to_string(LONG_MIN)},
      {"li", [] { relata("%li", LONG_MAX); }, std::to_string(LONG_MAX)},
      {"lu", [] { relata("%lu", ULONG_MAX); }, std::to_string(ULONG_MAX)},
      {"lx", [] { relata("%lx", ULONG_MAX); }, std::string(2 * sizeof(long), 'f')},
      {"c", [] { relata("[%c]", 'Z'); }, "[Z]"},
      {"f", [] { relata("%.2f", 3.14159); }, "3.14"},
      {"g", [] { relata("%g", 0.0001); }, "0.0001"},
      {"e", [] { relata("%e", 12345.678); }, "1.234568e+04"},
      {"%", [] { relata("100%%"); }, "100%"},
      {".*s", [] { relata("%.*s|", 3, "abcdef"); }, "abc|"},
      {"width", [] { relata("%5d|%-3u|", 42, 7U); }, "   42|7  |"},
  };
  for (const auto& c : tabela) {
    EXPECT_EQ(em_stderr(c.relato), "xagterm: " + c.esperado + "\n") << "%" << c.nome;
  }
}

// Names over 240 bytes keep their start and end around "...", and never lose
// half a UTF-8 character on either side.
TEST(Relata, LongNamesAreShortenedBetweenCharacters) {
  const std::string eur = "\xE2\x82\xAC";  // 3 bytes
  const std::string e = "\xC3\xA9";        // 2 bytes
  struct Nome {
    std::string nome;
    std::string esperado;
  } tabela[] = {
      {std::string(240, 'a'), std::string(240, 'a')},
      {std::string(241, 'a'), std::string(118, 'a') + "..." + std::string(119, 'a')},
      {std::string(117, 'a') + eur + std::string(200, 'z'),
       std::string(117, 'a') + "..." + std::string(119, 'z')},
      {std::string(200, 'a') + e + std::string(118, 'z'),
       std::string(118, 'a') + "..." + std::string(118, 'z')},
      {std::string(200, 'a') + eur + std::string(117, 'z'),
       std::string(118, 'a') + "..." + std::string(117, 'z')},
  };
  for (const auto& n : tabela) {
    EXPECT_EQ(em_stderr([&] { relata("%s", n.nome.c_str()); }), "xagterm: " + n.esperado + "\n")
        << n.nome.size() << " bytes";
  }
}

// A report fills its 1 KB buffer and still ends with its line end; erro_f
// fills all of it but its final NUL.
TEST(Relata, TextsFillTheirBufferToTheLastByte) {
  struct Caso {
    bool com_prefixo;
    std::size_t tamanho;  // of the formatted text
    std::size_t mantido;
  } tabela[] = {
      {true, 1012, 1012},  {true, 1013, 1013},  {true, 1014, 1013},
      {false, 1022, 1022}, {false, 1023, 1023}, {false, 1024, 1023},
  };
  for (const auto& c : tabela) {
    // Five pieces of at most 240 bytes each, so none is shortened.
    std::string p[5];
    for (std::size_t i = 0, falta = c.tamanho; i < 5; ++i, falta -= p[i - 1].size()) {
      p[i] = std::string(falta < 240 ? falta : 240, static_cast<char>('a' + i));
    }
    std::string todo = p[0] + p[1] + p[2] + p[3] + p[4];
    std::string saida = em_stderr([&] {
      if (c.com_prefixo) {
        relata("%s%s%s%s%s", p[0].c_str(), p[1].c_str(), p[2].c_str(), p[3].c_str(), p[4].c_str());
      } else {
        erro_f("%s%s%s%s%s", p[0].c_str(), p[1].c_str(), p[2].c_str(), p[3].c_str(), p[4].c_str());
      }
    });
    EXPECT_EQ(saida,
              c.com_prefixo ? "xagterm: " + todo.substr(0, c.mantido) + "\n" : todo.substr(0, c.mantido))
        << c.tamanho;
  }
}
