// What the Linux files of the platform layer share among themselves.
#pragma once

#include <cstddef>
#include <ctime>

namespace plat {

// --- the port ---

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

// True when the line behind the port descriptor is gone though poll may not
// say so yet: a read or write on it failed with EIO, ENXIO or ENODEV, or its
// device node has been removed.
bool porta_falhou(int fd);

// --- the console ---

// The console's saved settings back, from a signal handler too.
void console_restaura();

// The keyboard's descriptor (standard input).
int teclado();

// A key read by tecla_pronta is waiting to be taken.
bool tecla_guardada();

// The keyboard's input has ended: it is never waited on again.
bool teclado_acabou();

// --- the clock ---

timespec agora();
timespec instante_mais_us(timespec t, long us);
timespec ate(timespec prazo);  // time left until prazo; zero once it has passed
void dorme_ate(timespec prazo);

}  // namespace plat
