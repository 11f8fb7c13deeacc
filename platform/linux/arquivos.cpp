// Files on Linux: a hex file to read, the --log file, and telling two names
// of one file apart.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

// The kernel's own file systems, whose files are its settings and state, not
// data: a session written into one would change the system (as root, into
// /proc/self/status or /sys/kernel/mm/...), never be kept.
constexpr unsigned long sistemas_do_kernel[] = {
    PROC_SUPER_MAGIC,     SYSFS_MAGIC,
    DEBUGFS_MAGIC,        TRACEFS_MAGIC,
    SECURITYFS_MAGIC,     CGROUP_SUPER_MAGIC,
    CGROUP2_SUPER_MAGIC,  0x62656570UL /* configfs */,
    DEVPTS_SUPER_MAGIC,   PSTOREFS_MAGIC,
    BPF_FS_MAGIC,         EFIVARFS_MAGIC,
    SELINUX_MAGIC,        SMACK_MAGIC,
    BINFMTFS_MAGIC,       NSFS_MAGIC,
    RDTGROUP_SUPER_MAGIC, 0x65735543UL /* fusectl */,
};

bool do_kernel(int fd) {
  struct statfs s {};
  if (fstatfs(fd, &s) != 0) return false;
  for (unsigned long tipo : sistemas_do_kernel) {
    if (static_cast<unsigned long>(s.f_type) == tipo) return true;
  }
  return false;
}

}  // namespace

std::FILE* arquivo_abre(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  int fd = open(caminho, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int erro = S_ISDIR(st.st_mode) ? EISDIR : 0;
    close(fd);
    nao_comum = erro == 0;
    errno = erro;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
}

std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  struct stat st {};
  if (stat(caminho, &st) == 0 && !S_ISREG(st.st_mode)) {
    nao_comum = !S_ISDIR(st.st_mode);
    errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return nullptr;
  }
  // O_NONBLOCK: a FIFO put in its place meanwhile fails the open (ENXIO)
  // instead of waiting for a reader.
  int fd = open(caminho, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || do_kernel(fd)) {
    close(fd);
    nao_comum = true;
    errno = 0;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "ab");
  if (f == nullptr) close(fd);
  return f;
}

bool mesmo_arquivo(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace plat
