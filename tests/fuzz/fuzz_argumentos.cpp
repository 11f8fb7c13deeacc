// The argument scan and its reports over any command line: the fuzzer's
// bytes cut at NULs into argv[1..]. Checked: the rate is within 300..115200;
// the port is the default or one of the arguments as it stands; the file is
// none or one of the arguments.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/argumentos.hpp"
#include "tests/fuzz/linha_fuzz.hpp"

namespace {

bool um_dos_argumentos(const char* p, const std::vector<char*>& argv) {
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (p == argv[i]) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t n) {
  std::vector<std::string> textos{"xagterm"};
  std::string atual;
  for (std::size_t i = 0; i < n; ++i) {
    if (dados[i] == 0) {
      textos.push_back(atual);
      atual.clear();
    } else {
      atual += static_cast<char>(dados[i]);
    }
  }
  if (n > 0) textos.push_back(atual);
  std::vector<char*> argv;
  for (auto& t : textos) argv.push_back(t.data());
  argv.push_back(nullptr);  // argv[argc], as main gets it

  Argumentos a = le_argumentos(static_cast<int>(argv.size() - 1), argv.data());
  relata_argumentos(a);  // its reports and hints
  fuzz::exige(a.tamanho_relatos < static_cast<int>(sizeof a.relatos) && a.relatos[a.tamanho_relatos] == '\0');
  argv.pop_back();
  fuzz::exige(a.baud >= 300 && a.baud <= 115200);
  fuzz::exige(a.porta != nullptr &&
              (um_dos_argumentos(a.porta, argv) || std::strcmp(a.porta, Argumentos{}.porta) == 0));
  fuzz::exige(a.arquivo == nullptr || um_dos_argumentos(a.arquivo, argv));
  return 0;
}
