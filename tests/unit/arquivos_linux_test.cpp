// Two names are one file when device AND inode agree: the --log file is
// compared so with the port and the hex file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/plataforma.hpp"
#include "tests/unit/apoio.hpp"

namespace {

// Two roots of different file systems with the same inode number (proc's and
// sysfs's roots are both 1 on Linux); empty when none are found.
std::string mesmo_inode_noutro_disco(std::string& outro) {
  const char* raizes[] = {"/proc", "/sys", "/dev", "/dev/shm", "/dev/pts", "/sys/fs/cgroup", "/run", "/tmp"};
  for (const char* a : raizes) {
    for (const char* b : raizes) {
      struct stat sa {};
      struct stat sb {};
      if (stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_ino == sb.st_ino && sa.st_dev != sb.st_dev) {
        outro = b;
        return a;
      }
    }
  }
  return "";
}

}  // namespace

TEST(MesmoArquivo, DeviceAndInodeMustBothAgree) {
  ArquivoTemporario f("a.log", "a");
  ArquivoTemporario g("b.log", "b");
  const std::string ligado = f.pasta() + "/ligado.log";
  ASSERT_EQ(link(f.caminho().c_str(), ligado.c_str()), 0);
  std::string outro;
  const std::string raiz = mesmo_inode_noutro_disco(outro);
  struct Caso {
    std::string a, b;
    bool mesmo;
  } tabela[] = {
      {f.caminho(), f.caminho(), true},
      {f.caminho(), ligado, true},        // a second name of the same file
      {f.caminho(), g.caminho(), false},  // same device, another inode
      {f.caminho(), f.pasta() + "/nao_existe", false},
      {raiz, outro, false},  // same inode, another device
  };
  for (const auto& c : tabela) {
    if (c.a.empty()) {
      ADD_FAILURE() << "no two file systems here share an inode number";
      continue;
    }
    EXPECT_EQ(plat::mesmo_arquivo(c.a.c_str(), c.b.c_str()), c.mesmo) << c.a << " and " << c.b;
  }
}
