// --help: the port names and examples on Windows.
#include "platform/plataforma.hpp"

namespace plat {

const char* ajuda_uso_porta() { return "COMn | \\\\.\\COMn"; }

const char* ajuda_portas() {
  return "  COMn, comn            porta serial n: COM1, COM3...; padrao COM1\n"
         "  \\\\.\\COMn, \\\\.\\NOME    a porta pelo nome de dispositivo: \\\\.\\COM12\n";
}

const char* ajuda_exemplos() {
  return "  xagterm COM3 b=115200\n"
         "  xagterm COM3 b=115200 prog.hex --batch\n"
         "  xagterm \\\\.\\COM12 b=115200 prog.hex --batch --fast --answer .\\r\\n\n"
         "  xagterm COM3 b=115200 --log sessao.log\n"
         "  xagterm COM3 --no-reconnect\n";
}

}  // namespace plat
