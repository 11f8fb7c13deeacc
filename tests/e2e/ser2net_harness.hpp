// A board on another machine, for the tests: xagsim on its own, and ser2net
// serving its line on 127.0.0.1 at a free port, with its configuration in a
// temporary directory of its own. Both end with the object.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pty_harness.hpp"

namespace ser2net_harness {

using namespace pty_harness;

inline const char kSer2net[] = "/usr/sbin/ser2net";

inline bool available() { return access(kSer2net, X_OK) == 0; }

// A TCP port on 127.0.0.1 nobody listens on at the moment.
inline int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

// True once something listens on 127.0.0.1:port (read from /proc, so that
// no probe connection opens the device).
inline bool listening(int port) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X 00000000:0000 0A", port);
  return read_file("/proc/net/tcp").find(wanted) != std::string::npos;
}

// ser2net serving `device` at `port`: "rfc2217" (telnet with the serial
// option) or "tcp" (raw), with the options' YAML lines added.
class Server {
 public:
  Server(const TempDir& dir, int port, const std::string& device, const std::string& kind,
         const std::vector<std::string>& options)
      : config_(dir.file("ser2net-" + std::to_string(port) + ".yaml")) {
    std::ofstream yaml(config_);
    yaml << "connection: &board\n  accepter: " << (kind == "rfc2217" ? "telnet(rfc2217),tcp," : "tcp,")
         << "127.0.0.1," << port << "\n  connector: serialdev," << device << ",local\n";
    if (!options.empty()) yaml << "  options:\n";
    for (const auto& o : options) yaml << "    " << o << "\n";
    yaml.close();
    program_ = std::make_unique<Program>(std::vector<std::string>{kSer2net, "-n", "-d", "-c", config_});
    for (int i = 0; i < 300 && !listening(port); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Program& program() { return *program_; }
  // As a server shut down: SIGTERM, and wait for it.
  void stop() {
    program_->signal(SIGTERM);
    program_->wait_exit();
    program_.reset();
  }

 private:
  std::string config_;
  std::unique_ptr<Program> program_;
};

}  // namespace ser2net_harness
