// How a port argument names a serial device on POSIX.
#pragma once

#include <cstddef>

namespace plat {

// COMn and comn, n a decimal number from 1 to 256, name /dev/ttyS(n-1),
// also after the Windows device prefix \\.\ (\\.\COM3 is /dev/ttyS2);
// a name that begins with "/dev/" is the device path itself; any other name
// of a character device (a symbolic link to one too) is its own path, and a
// bare name of one in /dev (ttyUSB0) is its path there, as is a bare tty
// name that is not there (ttyUSB9: /dev/ttyUSB9). Writes the path into
// buf and returns true, or returns false when the name designates no device
// (COM0, COM3x, COM999, a file that is no device, or a path that does not
// fit).
bool caminho_da_porta(const char* nome, char* buf, std::size_t tamanho);

}  // namespace plat
