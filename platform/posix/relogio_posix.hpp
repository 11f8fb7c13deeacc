// Monotonic time and exact sleeps for the POSIX platform layer.
#pragma once

#include <ctime>

namespace plat {

timespec agora();
timespec instante_mais_us(timespec t, long us);
timespec ate(timespec prazo);  // time left until prazo; zero or negative once it passed
void dorme_ate(timespec prazo);

}  // namespace plat
