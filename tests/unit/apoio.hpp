// Shared pieces of the unit tests: capture of stdout/stderr, a scripted
// stdin, and files to upload.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fake/fake.hpp"

// Redirects one standard stream to a temporary file for its lifetime.
class Captura {
 public:
  explicit Captura(std::FILE* stream) : stream_(stream), fd_(fileno(stream)) {
    std::fflush(stream_);
    salvo_ = dup(fd_);
    arquivo_ = std::tmpfile();
    dup2(fileno(arquivo_), fd_);
  }
  ~Captura() {
    std::fflush(stream_);
    dup2(salvo_, fd_);
    close(salvo_);
    std::fclose(arquivo_);
  }
  Captura(const Captura&) = delete;
  Captura& operator=(const Captura&) = delete;

  std::string texto() {
    std::fflush(stream_);
    std::string r;
    std::rewind(arquivo_);
    for (int c; (c = std::fgetc(arquivo_)) != EOF;) r.push_back(static_cast<char>(c));
    std::fseek(arquivo_, 0, SEEK_END);
    return r;
  }

 private:
  std::FILE* stream_;
  int fd_;
  int salvo_ = -1;
  std::FILE* arquivo_ = nullptr;
};

// A file in a fresh temporary folder, removed at the end of the test.
class ArquivoTemporario {
 public:
  ArquivoTemporario(const std::string& nome, const std::string& conteudo) {
    pasta_ = std::filesystem::temp_directory_path() /
             ("xag-unit-" + std::to_string(getpid()) + "-" + std::to_string(contador_++));
    std::filesystem::create_directories(pasta_);
    caminho_ = (pasta_ / nome).string();
    std::ofstream(caminho_, std::ios::binary) << conteudo;
  }
  ~ArquivoTemporario() { std::filesystem::remove_all(pasta_); }
  ArquivoTemporario(const ArquivoTemporario&) = delete;
  ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;
  const std::string& caminho() const { return caminho_; }
  std::string pasta() const { return pasta_.string(); }

 private:
  static inline int contador_ = 0;
  std::filesystem::path pasta_;
  std::string caminho_;
};

// Standard input reads `texto` from now on (its end follows it). The file is
// removed at once where the system allows removing an open file; on Windows
// (a sharing violation) it goes once standard input has moved on from it.
inline void entrada_padrao(const std::string& texto) {
  static int n = 0;
  static std::filesystem::path anterior;
  std::filesystem::path caminho = std::filesystem::temp_directory_path() /
                                  ("xag-stdin-" + std::to_string(getpid()) + "-" + std::to_string(n++));
  std::ofstream(caminho, std::ios::binary) << texto;
  if (std::freopen(caminho.string().c_str(), "rb", stdin) == nullptr) std::abort();
  std::error_code ignorado;
  if (!anterior.empty()) std::filesystem::remove(anterior, ignorado);
  anterior.clear();
  if (!std::filesystem::remove(caminho, ignorado)) anterior = caminho;
}

// What the system says when a folder is opened and read as a hex file: the
// C library opens it and the read fails on Linux; Windows refuses the open.
#ifdef _WIN32
inline constexpr const char* erro_de_pasta = "Permission denied";
#else
inline constexpr const char* erro_de_pasta = "Is a directory";
#endif
