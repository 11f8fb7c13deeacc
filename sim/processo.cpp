#include "sim/processo.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace xagsim {

std::vector<std::string> com_porta(const std::vector<std::string>& comando, const std::string& linha) {
  static const std::string marca = "{port}";
  std::vector<std::string> r = comando;
  for (auto& arg : r) {
    for (auto p = arg.find(marca); p != std::string::npos; p = arg.find(marca, p + linha.size()))
      arg.replace(p, marca.size(), linha);
  }
  return r;
}

pid_t lanca(const std::vector<std::string>& argv, const struct sigaction& sigint) {
  std::vector<char*> ponteiros;
  ponteiros.reserve(argv.size() + 1);
  for (const auto& a : argv) ponteiros.push_back(const_cast<char*>(a.c_str()));
  ponteiros.push_back(nullptr);

  pid_t pid = fork();
  if (pid != 0) return pid;
  sigaction(SIGINT, &sigint, nullptr);
  execvp(ponteiros[0], ponteiros.data());
  std::perror(ponteiros[0]);
  _exit(127);
}

int estado_de_saida(int estado_wait) {
  if (WIFEXITED(estado_wait)) return WEXITSTATUS(estado_wait);
  if (WIFSIGNALED(estado_wait)) return 128 + WTERMSIG(estado_wait);
  return 1;
}

}  // namespace xagsim
