// The command xagsim runs on the line.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace xagsim {

// comando with every "{port}" replaced by linha.
std::vector<std::string> com_porta(const std::vector<std::string>& comando, const std::string& linha);

// Starts argv[0] (looked up in PATH) with the console as it is and SIGINT
// handled as sigint says; -1 when it cannot fork. If the exec fails the
// child says so and exits 127.
pid_t lanca(const std::vector<std::string>& argv, const struct sigaction& sigint);

// The exit status that reports a waitpid status: the code, or 128+signal.
int estado_de_saida(int estado_wait);

}  // namespace xagsim
