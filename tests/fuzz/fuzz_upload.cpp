// The upload (envia_hex) over the fake line, with a fuzzed file and a fuzzed
// device. Input: the file's bytes, then "\xFF\xFE" and the device's script
// (linha_fuzz.hpp).
//
// Checked: the status is one of -1..2; what went down the line is the file's
// bytes in their order (none invented, none repeated); and no byte was sent
// before the one ahead of it could have been echoed and, after a line feed,
// the three answer characters could have come: when the program writes its
// byte number j, at least j + 3 * (line feeds before it) device bytes have
// arrived. ASan and UBSan watch the buffers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "programming/upload.hpp"
#include "tests/fake/fake.hpp"
#include "tests/fuzz/linha_fuzz.hpp"

namespace {

// Each byte of `parte` found in `todo`, in order.
bool subsequencia(const std::string& parte, std::string_view todo) {
  std::size_t i = 0;
  for (char c : todo) {
    if (i < parte.size() && parte[i] == c) ++i;
  }
  return i == parte.size();
}

// The file lives in memory; the program opens it by its /proc path.
std::string grava(std::string_view conteudo) {
  static int fd = -1;
  if (fd < 0) fd = memfd_create("hex", 0);
  fuzz::exige(fd >= 0);
  fuzz::exige(ftruncate(fd, 0) == 0);
  fuzz::exige(pwrite(fd, conteudo.data(), conteudo.size(), 0) == static_cast<ssize_t>(conteudo.size()));
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t n) {
  std::string_view arquivo, roteiro;
  fuzz::divide(std::string_view(reinterpret_cast<const char*>(dados), n), arquivo, roteiro);
  std::string caminho = grava(arquivo);

  fake::reinicia();
  fuzz::Dispositivo dispositivo(roteiro, true);
  dispositivo.conversa_antes();
  std::size_t linhas = 0;
  fake::dispositivo([&](unsigned char c) {
    const std::string& enviados = fake::enviados();
    std::size_t j = enviados.size() - 1;  // c is already in it
    fuzz::exige(dispositivo.chegados() >= j + 3 * linhas);
    if (c == '\n') ++linhas;
    dispositivo.recebe(c);
  });

  int status = -3;
  try {
    status = envia_hex(caminho.c_str());
  } catch (const fake::FimDoRoteiro&) {
    return 0;
  }
  fuzz::exige(status >= -1 && status <= 2);
  fuzz::exige(subsequencia(fake::enviados(), arquivo));
  return 0;
}
