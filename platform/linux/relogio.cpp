// The clock and sleeps on Linux: CLOCK_MONOTONIC, and absolute sleeps on it
// with the least timer slack the kernel allows.
#include <sys/prctl.h>

#include <cerrno>

#include "platform/linux/linux.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr long mil_milhoes = 1000000000L;

// The kernel sleeps past its deadline by its timer slack (50 us by default)
// plus the wake-up latency: asleep until this close to the deadline, then
// watch the clock for the rest.
constexpr long margem_us = 80;

long long ns(timespec t) { return static_cast<long long>(t.tv_sec) * mil_milhoes + t.tv_nsec; }

timespec de_ns(long long v) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(v / mil_milhoes);
  t.tv_nsec = static_cast<long>(v % mil_milhoes);
  return t;
}

void folga_minima() {
  static bool feito = false;
  if (!feito) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    feito = true;
  }
}

}  // namespace

// The kernel's timers are fine already.
void temporizador_fino(bool) {}

timespec agora() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

timespec instante_mais_us(timespec t, long us) { return de_ns(ns(t) + us * 1000LL); }

timespec ate(timespec prazo) {
  long long falta = ns(prazo) - ns(agora());
  if (falta <= 0) return timespec{};
  return de_ns(falta);
}

void dorme_ate(timespec prazo) {
  folga_minima();
  timespec acorda = de_ns(ns(prazo) - margem_us * 1000LL);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &acorda, nullptr) == EINTR) {
  }
  while (ns(agora()) < ns(prazo)) {
  }
}

std::int64_t agora_us() { return ns(agora()) / 1000; }

void dorme_ate_us(std::int64_t instante) { dorme_ate(de_ns(instante * 1000LL)); }

void dorme_ms(int ms) { dorme_ate(instante_mais_us(agora(), ms * 1000L)); }

}  // namespace plat
