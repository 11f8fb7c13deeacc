// --help: the port names and examples on POSIX.
#include "platform/plataforma.hpp"

namespace plat {

const char* ajuda_uso_porta() { return "COMn | /dev/CAMINHO"; }

const char* ajuda_portas() {
  return "  COMn, comn            porta serial n: COM1 e /dev/ttyS0, COM2 e /dev/ttyS1...;\n"
         "                        padrao COM1\n"
         "  /dev/CAMINHO          porta serial pelo caminho: /dev/ttyUSB0, /dev/ttyACM0, ou\n"
         "                        qualquer caminho de um dispositivo (um link simbolico\n"
         "                        para ele inclusive)\n"
         "  ttyUSB0, ttyACM0      o nome de um dispositivo em /dev, sem o /dev/\n";
}

const char* ajuda_exemplos() {
  return "  xagterm /dev/ttyUSB0 b=115200\n"
         "  xagterm /dev/ttyUSB0 b=115200 programa.hex --batch\n"
         "  xagterm ttyUSB0 b=115200 programa.hex --batch --fast --answer '.\\r\\n'\n"
         "  xagterm /dev/ttyUSB0 b=115200 --log sessao.log\n"
         "  xagterm /dev/ttyUSB0 --no-reconnect\n";
}

}  // namespace plat
