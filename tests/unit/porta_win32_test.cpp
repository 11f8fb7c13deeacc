// The Win32 port layer's decisions, its Win32 calls scripted as serial
// drivers behave and wine does not: writes left pending and ended later, well
// or not, and a pulled adapter whose calls fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "platform/win32/chamadas_win32.hpp"
#include "platform/win32/win32.hpp"

namespace {

struct Roteiro {
  DWORD erro_escrita = 0;  // WriteFile fails at once with it; 0: left pending
  bool terminou = false;   // the pending write has ended, with erro_fim (0: well)
  DWORD erro_fim = 0;
  bool sonda_falha = false;   // ClearCommError fails
  DWORD erro_espera = 0;      // WaitCommEvent fails at once with it; 0: pending
  bool espera_vazia = false;  // WaitCommEvent ends at once with no event
  int esperas = 0;            // WaitCommEvent calls
  int olhares_ate_byte = -1;  // ClearCommError finds a byte after this many looks
  std::string escritos;       // what WriteFile was handed, call after call
  int cancelamentos = 0;
  OVERLAPPED* escrita = nullptr;
  DWORD erro_le_ajustes = 0;  // GetCommState fails with it
  DWORD erro_ajustes = 0;     // SetCommState fails with it
  int ajustes_mudados = 0;
} r;
std::atomic<int> escritas_pedidas{0};  // WriteFile calls, seen from a driver's thread

HANDLE evento_de(OVERLAPPED* o) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(o->hEvent) & ~std::uintptr_t{1});
}
BOOL falha(DWORD erro) {
  SetLastError(erro);
  return FALSE;
}
BOOL WINAPI escreve(HANDLE, LPCVOID buf, DWORD n, LPDWORD, LPOVERLAPPED o) {
  if (r.erro_escrita != 0) return falha(r.erro_escrita);
  r.escritos.append(static_cast<const char*>(buf), n);
  r.escrita = o;
  ResetEvent(evento_de(o));
  ++escritas_pedidas;
  return falha(ERROR_IO_PENDING);
}
BOOL WINAPI resultado(HANDLE, LPOVERLAPPED o, LPDWORD n, BOOL) {
  if (o != r.escrita || !r.terminou) return falha(ERROR_IO_INCOMPLETE);
  *n = r.erro_fim == 0 ? 1 : 0;
  return r.erro_fim == 0 ? TRUE : falha(r.erro_fim);
}
BOOL WINAPI espera_evento(HANDLE, LPDWORD mascara, LPOVERLAPPED o) {
  ++r.esperas;
  if (r.espera_vazia) {
    *mascara = 0;
    return TRUE;
  }
  if (r.erro_espera == 0) ResetEvent(o->hEvent);
  return falha(r.erro_espera != 0 ? r.erro_espera : ERROR_IO_PENDING);
}
BOOL WINAPI cancela(HANDLE, LPOVERLAPPED) { return ++r.cancelamentos; }
BOOL WINAPI estado(HANDLE, LPDWORD erros, LPCOMSTAT s) {
  if (r.sonda_falha) return falha(ERROR_ACCESS_DENIED);
  *erros = 0;
  *s = COMSTAT{};
  if (r.olhares_ate_byte >= 0 && r.olhares_ate_byte-- == 0) s->cbInQue = 1;
  return TRUE;
}
BOOL WINAPI le(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) { return falha(ERROR_IO_PENDING); }
BOOL WINAPI le_ajustes(HANDLE, LPDCB) { return r.erro_le_ajustes != 0 ? falha(r.erro_le_ajustes) : TRUE; }
BOOL WINAPI muda_ajustes(HANDLE, LPDCB) {
  ++r.ajustes_mudados;
  return r.erro_ajustes != 0 ? falha(r.erro_ajustes) : TRUE;
}

// The pending write ends, as the driver signals it.
void termina(DWORD erro) {
  r.erro_fim = erro;
  r.terminou = true;
  SetEvent(evento_de(r.escrita));
}

class PortaWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    r = Roteiro{};
    escritas_pedidas = 0;
    auto& c = plat::win32::chamadas;
    c.le = le;
    c.escreve = escreve;
    c.resultado = resultado;
    c.espera_evento = espera_evento;
    c.cancela = cancela;
    c.estado = estado;
    c.le_ajustes = le_ajustes;
    c.muda_ajustes = muda_ajustes;
    p_ = 0x4000;
    plat::win32::porta_comeca(p_);  // as porta_abre starts it: no state left from another test
  }
  void TearDown() override { plat::win32::chamadas = guardadas_; }
  int envia(const char* c) {
    return plat::porta_escreve_agora(p_, reinterpret_cast<const unsigned char*>(c), 1);
  }
  plat::win32::Chamadas guardadas_ = plat::win32::chamadas;
  plat::Porta p_ = 0;
};

TEST_F(PortaWin32, KeyPendingThenDoneIsSentOnceNeverCancelled) {
  EXPECT_EQ(envia("a"), 1);  // pending: taken, and kept in flight
  EXPECT_EQ(envia("b"), 0);  // nothing more taken meanwhile, nothing resent
  EXPECT_EQ(plat::aguarda(p_, plat::ev_escrita, 0), 0U);
  std::thread driver([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    termina(0);
  });
  EXPECT_EQ(plat::aguarda(p_, plat::ev_escrita, 10000), plat::ev_escrita);  // woken by its end
  driver.join();
  EXPECT_EQ(envia("b"), 1);
  EXPECT_EQ(r.escritos, "ab");
  EXPECT_EQ(r.cancelamentos, 0);
}

TEST_F(PortaWin32, UploadWriteLeftPendingIsNoFailure) {
  std::thread driver([] {
    while (escritas_pedidas == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    termina(0);
  });
  EXPECT_EQ(plat::porta_escreve(p_, reinterpret_cast<const unsigned char*>("a"), 1), 1);
  driver.join();
  EXPECT_EQ(r.escritos, "a");
  EXPECT_EQ(r.cancelamentos, 0);
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 0), 0U);  // the line is not lost
}

struct Falha {
  const char* nome;
  bool pendente;  // the write fails when it ends, not at once
  DWORD erro;
  bool sonda_falha;
  int depois;  // what the next porta_escreve_agora returns
};

class FalhaDeEscrita : public PortaWin32, public ::testing::WithParamInterface<Falha> {};

TEST_P(FalhaDeEscrita, LineLostOnlyWhenTheProbeFailsToo) {
  const Falha& f = GetParam();
  if (f.pendente) {
    ASSERT_EQ(envia("a"), 1);
    termina(f.erro);
  } else {
    r.erro_escrita = f.erro;
  }
  r.sonda_falha = f.sonda_falha;
  EXPECT_EQ(envia("b"), f.depois);
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 0), f.sonda_falha ? plat::ev_perdida : 0U);
  EXPECT_EQ(r.cancelamentos, 0);
}

const Falha falhas[] = {
    {"pending_failed_probe_fails", true, ERROR_ACCESS_DENIED, true, -1},
    {"pending_aborted_not_by_us_probe_fails", true, ERROR_OPERATION_ABORTED, true, -1},
    {"pending_failed_probe_answers", true, ERROR_GEN_FAILURE, false, 1},
    {"failed_probe_fails", false, ERROR_DEVICE_REMOVED, true, -1},
    {"failed_probe_answers", false, ERROR_BAD_COMMAND, false, 0},
};
INSTANTIATE_TEST_SUITE_P(Win32, FalhaDeEscrita, ::testing::ValuesIn(falhas),
                         [](const auto& i) { return std::string(i.param.nome); });

TEST_F(PortaWin32, FailedWaitCommEventIsNeverWaitedOn) {
  r.erro_espera = ERROR_ACCESS_DENIED;
  r.olhares_ate_byte = 3;  // never signalled: only a look finds the byte
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 10000), plat::ev_linha);
  r.sonda_falha = true;
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 10000), plat::ev_perdida);
}

TEST_F(PortaWin32, EmptyWaitCommEventIsTriedAgainAfterASecond) {
  r.espera_vazia = true;
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 50), 0U);
  EXPECT_EQ(r.esperas, 3);  // three empty ends in a row: looked at instead
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 50), 0U);
  EXPECT_EQ(r.esperas, 3);
  Sleep(1000);
  EXPECT_EQ(plat::aguarda(p_, plat::ev_linha, 50), 0U);
  EXPECT_EQ(r.esperas, 6);
}

struct Recusa {
  const char* nome;
  DWORD erro_le;    // GetCommState fails with it
  DWORD erro_muda;  // SetCommState fails with it
  int mudados;      // SetCommState calls
  int codigo;       // porta_erro()
  bool do_sistema;  // the text shown is the system's own, not strerror's
};

class AjustesRecusados : public PortaWin32, public ::testing::WithParamInterface<Recusa> {};

TEST_P(AjustesRecusados, KeepTheirCause) {
  const Recusa& c = GetParam();
  r.erro_le_ajustes = c.erro_le;
  r.erro_ajustes = c.erro_muda;
  EXPECT_FALSE(plat::porta_configura(p_, 115200));
  EXPECT_EQ(r.ajustes_mudados, c.mudados);
  EXPECT_EQ(plat::porta_erro(), c.codigo);
  std::string texto = plat::porta_erro_texto();
  EXPECT_EQ(texto, plat::win32::texto_do_erro(c.erro_le != 0 ? c.erro_le : c.erro_muda));
  EXPECT_EQ(texto != std::strerror(c.codigo), c.do_sistema) << texto;
}

const Recusa recusas[] = {
    {"state_unreadable", ERROR_INVALID_HANDLE, 0, 0, EIO, true},
    {"rate_refused", 0, ERROR_INVALID_PARAMETER, 1, EINVAL, true},
    {"device_failed", 0, ERROR_GEN_FAILURE, 1, EIO, true},
};
INSTANTIATE_TEST_SUITE_P(Win32, AjustesRecusados, ::testing::ValuesIn(recusas),
                         [](const auto& i) { return std::string(i.param.nome); });

}  // namespace
