#!/usr/bin/env python3
"""Speed figures of the Windows build under wine, on pseudo-terminals.

A private wine prefix in a temporary folder (its wineserver started and ended
here); COM1 is mapped to a pseudo-terminal whose other end this script plays:
a device that echoes every byte at once and answers ".\\r\\n" after each line.

  - upload of 4513 characters in 101 lines, output to a file and to a console
    (the console is a pseudo-terminal: what wine gives a program run on one),
    against the floor of 1 ms per poll (characters + 3 x lines = 4816 ms);
  - an idle terminal for 10 s: CPU of xagterm.exe and of the wineserver, and
    xagterm.exe's context switches per second (all its threads, from /proc);
  - the same upload with --batch, output to a file, against xagsim --wire (a
    line at its real pace, 115200 baud) on that COM1 instead: --fast against
    the wire time ((characters + 3 x lines) x 10 / 115200 s), and lockstep
    against its floor. Each run timed from the start of wine to its end, with
    nothing taken off; the start-up of xagterm.exe under wine (the median of a
    few runs of --version) is shown beside them. Needs build/default/sim/xagsim.

Figures, never verdicts. Usage: bench/wine_bench.py [XAGTERM.EXE...] (default
both builds, build/windows-x64/xagterm.exe and build/windows-x86/xagterm.exe,
the latter on 32-bit wine). XAG_IDLE_S sets the idle time (10 s).
XAG_WINE_SECOES picks the sections, a list split by commas of upload, idle
and wire (all of them); XAG_WINE_VEZES how many runs of each wire figure (3).
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.environ.get("WINE", "wine")
WINESERVER = os.environ.get("WINESERVER", "wineserver")
HZ = os.sysconf("SC_CLK_TCK")
IDLE_S = int(os.environ.get("XAG_IDLE_S", "10"))
SECOES = os.environ.get("XAG_WINE_SECOES", "upload,idle,wire").split(",")
VEZES = int(os.environ.get("XAG_WINE_VEZES", "3"))
XAGSIM = os.path.join(RAIZ, "build/default/sim/xagsim")
TAXA = 115200


def arquivo_hex(linhas):
    r = []
    for l in range(linhas):
        endereco = l * 16
        soma = 0x10 + (endereco >> 8) + (endereco & 0xFF)
        dados = [(l * 7 + i * 13) & 0xFF for i in range(16)]
        soma += sum(dados)
        r.append(":10%04X00%s%02X\r\n" % (endereco, "".join("%02X" % b for b in dados), (0x100 - (soma & 0xFF)) & 0xFF))
    r.append(":00000001FF\r\n")
    return "".join(r).encode()


def pty_cru():
    mestre, escravo = pty.openpty()
    tty.setraw(mestre)
    tty.setraw(escravo)
    return mestre, escravo, os.ttyname(escravo)


class Wine:
    def __init__(self, pasta):
        self.env = dict(os.environ, WINEPREFIX=os.path.join(pasta, "prefixo"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        os.makedirs(self.env["WINEPREFIX"])
        self.log = open(os.path.join(pasta, "wine.log"), "ab")
        self.servidor()
        subprocess.run([WINE, "wineboot", "-i"], env=self.env, stdout=self.log, stderr=self.log, check=True)

    def servidor(self):
        subprocess.run([WINESERVER, "-p"], env=self.env, stdout=self.log, stderr=self.log, check=True)

    def mapeia(self, com, caminho):
        subprocess.run([WINE, "reg", "add", r"HKLM\Software\Wine\Ports", "/v", com, "/d", caminho, "/f"],
                       env=self.env, stdout=self.log, stderr=self.log, check=True)
        self.termina()
        self.servidor()

    def termina(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=self.log, stderr=self.log)
        subprocess.run([WINESERVER, "-w"], env=self.env, stdout=self.log, stderr=self.log)

    def inicia(self, args, saida, entrada=subprocess.DEVNULL):
        return subprocess.Popen([WINE] + args, env=self.env, stdin=entrada, stdout=saida, stderr=saida)

    def pids_de(self, programa):
        r = []
        for p in os.listdir("/proc"):
            if not p.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % p, "rb") as f:
                    if programa.encode() not in f.read().lower():
                        continue
                with open("/proc/%s/environ" % p, "rb") as f:
                    if ("WINEPREFIX=" + self.env["WINEPREFIX"]).encode() in f.read().split(b"\0"):
                        r.append(int(p))
            except OSError:
                pass
        return r

    def pid_servidor(self):
        for p in os.listdir("/proc"):
            if not p.isdigit():
                continue
            try:
                if not os.readlink("/proc/%s/exe" % p).split("/")[-1].startswith("wineserver"):
                    continue
                with open("/proc/%s/environ" % p, "rb") as f:
                    if ("WINEPREFIX=" + self.env["WINEPREFIX"]).encode() in f.read().split(b"\0"):
                        return int(p)
            except OSError:
                pass
        return None


def para(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def serve_upload(linha, console, linhas, limite_s=120):
    """Echoes and answers until the answer to the last line; returns ms from
    the first byte received to then."""
    primeiro = None
    vistas = 0
    fim = time.monotonic() + limite_s
    fontes = [linha] + ([console] if console is not None else [])
    while time.monotonic() < fim:
        prontos, _, _ = select.select(fontes, [], [], 0.1)
        if console in prontos:
            os.read(console, 65536)  # what the console shows, drained
        if linha not in prontos:
            continue
        dados = os.read(linha, 4096)
        for b in dados:
            if primeiro is None:
                primeiro = time.monotonic()
            os.write(linha, bytes([b]))
            if b == 0x0A:
                os.write(linha, b".\r\n")
                vistas += 1
                if vistas == linhas:
                    return (time.monotonic() - primeiro) * 1000.0
    return float("nan")


def upload(wine, exe, linha, hex_win, caracteres, linhas, console):
    if console is None:
        with open(os.devnull, "wb") as nulo:
            proc = wine.inicia([exe, "COM1", "b=115200", hex_win], nulo)
            ms = serve_upload(linha, None, linhas)
    else:
        mestre, escravo, _ = pty_cru()
        attrs = termios.tcgetattr(escravo)
        attrs[1] |= termios.OPOST | termios.ONLCR  # a console shows line ends as a terminal does
        termios.tcsetattr(escravo, termios.TCSANOW, attrs)
        proc = wine.inicia([exe, "COM1", "b=115200", hex_win], escravo, escravo)
        os.close(escravo)
        ms = serve_upload(linha, mestre, linhas)
    para(proc)
    if console is not None:
        os.close(mestre)
    piso = caracteres + 3 * linhas
    return ms, piso


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return int(campos[11]) + int(campos[12])


def trocas(pid):
    total = 0
    for t in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, t)) as f:
                for l in f:
                    if "ctxt_switches" in l:
                        total += int(l.split()[1])
        except OSError:
            pass
    return total


def ocioso(wine, exe, linha):
    with open(os.devnull, "wb") as nulo:
        proc = wine.inicia([exe, "COM1", "b=115200"], nulo)
        time.sleep(4)
        servidor = wine.pid_servidor()
        # The 32-bit loader starts a 64-bit .exe as a process of its own and
        # waits for it: every process of the prefix running xagterm.exe counts.
        pids = wine.pids_de("xagterm.exe")
        a, s, c = sum(map(cpu_ticks, pids)), cpu_ticks(servidor), sum(map(trocas, pids))
        time.sleep(IDLE_S)
        a2, s2, c2 = sum(map(cpu_ticks, pids)), cpu_ticks(servidor), sum(map(trocas, pids))
        para(proc)
    por_cento = lambda t: 100.0 * t / HZ / IDLE_S
    return por_cento(a2 - a), por_cento(s2 - s), (c2 - c) / IDLE_S


# --- uploads against xagsim --wire ------------------------------------------

def aponta(elo, caminho):
    """Points the symbolic link COM1 is mapped to at the pty `caminho`."""
    temporario = elo + ".novo"
    if os.path.lexists(temporario):
        os.unlink(temporario)
    os.symlink(caminho, temporario)
    os.rename(temporario, elo)


def inicia_xagsim(elo):
    """xagsim --wire, serving until ended; COM1's link points at its pty."""
    sim = subprocess.Popen([XAGSIM, "--wire"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    caminho = sim.stdout.readline().decode().strip()
    if not caminho:
        para(sim)
        raise RuntimeError("xagsim printed no pty path")
    aponta(elo, caminho)
    return sim


def corrida(wine, exe, args, pasta):
    """Runs `wine EXE ARGS` to its end, output to files; returns (ms, status,
    what it said on standard error)."""
    with open(os.path.join(pasta, "corrida.out"), "wb") as saida, \
            open(os.path.join(pasta, "corrida.err"), "wb") as erros:
        t0 = time.monotonic()
        proc = subprocess.Popen([WINE, exe] + args, env=wine.env, stdin=subprocess.DEVNULL,
                                stdout=saida, stderr=erros)
        # A wait with a timeout would poll every 50 ms at most and round the
        # time up by as much: a blocking wait, and a timer to end a stuck run.
        relogio = threading.Timer(180, para, [proc])
        relogio.start()
        estado = proc.wait()
        ms = (time.monotonic() - t0) * 1000.0
        relogio.cancel()
    with open(os.path.join(pasta, "corrida.err"), "rb") as f:
        return ms, estado, f.read().decode(errors="replace")


def mediana(valores):
    return sorted(valores)[len(valores) // 2]


def inicio_wine(wine, exe, pasta, vezes=5):
    """The median of a few runs of `xagterm.exe --version`: wine's start-up
    and exit with the program's."""
    return mediana([corrida(wine, exe, ["--version"], pasta)[0] for _ in range(vezes)])


def upload_no_fio(wine, exe, elo, hex_win, linhas, args, pasta):
    """VEZES runs of an upload against a fresh xagsim --wire each; the times
    in ms, or the reason one failed."""
    tempos = []
    for _ in range(VEZES):
        sim = inicia_xagsim(elo)
        try:
            ms, estado, erros = corrida(wine, exe, ["COM1", "b=%d" % TAXA, hex_win] + args, pasta)
        finally:
            para(sim)
            sim.stdout.close()
        if estado != 0 or ("%d linhas enviadas" % linhas) not in erros:
            ultima = (erros.strip().splitlines() or ["nothing said"])[-1]
            return None, "FAILED, status %s: %s" % (estado, ultima)
        tempos.append(ms)
    return tempos, None


def uploads_no_fio(wine, exe, elo, hex_win, caracteres, linhas, pasta):
    na_linha = caracteres + 3 * linhas
    fio_ms = na_linha * 10 * 1000.0 / TAXA
    inicio_ms = inicio_wine(wine, exe, pasta)
    print("against xagsim --wire at %d baud, %d characters in %d lines, output to a file (%d runs each, load %.2f):"
          % (TAXA, caracteres, linhas, VEZES, os.getloadavg()[0]))
    print("  start-up and exit of xagterm.exe --version under wine: %.0f ms (median of 5), part of every figure below"
          % inicio_ms)
    for nome, args, de, de_que in (("--batch --fast:", ["--batch", "--fast"], fio_ms, "the wire time"),
                                   ("lockstep --batch:", ["--batch"], float(na_linha), "its floor")):
        tempos, falha = upload_no_fio(wine, exe, elo, hex_win, linhas, args, pasta)
        if falha:
            print("  %-18s %s" % (nome, falha))
            continue
        print("  %-18s %s ms: %.3f to %.3f x %s of %.0f ms"
              % (nome, ", ".join("%.0f" % t for t in tempos), min(tempos) / de, max(tempos) / de, de_que, de))


def main():
    exes = sys.argv[1:] or [os.path.join(RAIZ, "build/windows-%s/xagterm.exe" % a) for a in ("x64", "x86")]
    pasta = tempfile.mkdtemp(prefix="xag-winebench.")
    wine = None
    try:
        wine = Wine(pasta)
        linha, _escravo, caminho = pty_cru()
        # COM1 is a symbolic link, pointed at this script's pty or at xagsim's.
        elo = os.path.join(pasta, "com1")
        aponta(elo, caminho)
        wine.mapeia("COM1", elo)
        hex_ = arquivo_hex(100)
        with open(os.path.join(pasta, "bench.hex"), "wb") as f:
            f.write(hex_)
        hex_win = "Z:" + pasta.replace("/", "\\") + "\\bench.hex"
        linhas = hex_.count(b"\n")
        for exe in map(os.path.abspath, exes):
            print("xagterm under wine: %s" % exe)
            aponta(elo, caminho)
            if "upload" in SECOES:
                for nome, console in (("to a file", None), ("to a console (pty)", True)):
                    ms, piso = upload(wine, exe, linha, hex_win, len(hex_), linhas, console)
                    print("upload %-19s %d characters in %d lines: %.0f ms, %.3f x the floor of %d ms"
                          % (nome, len(hex_), linhas, ms, ms / piso, piso))
            if "idle" in SECOES:
                cpu, servidor, cs = ocioso(wine, exe, linha)
                print("idle for %d s: xagterm.exe %.1f %% CPU, wineserver %.1f %% CPU, xagterm.exe %.0f context switches/s"
                      % (IDLE_S, cpu, servidor, cs))
            if "wire" in SECOES:
                uploads_no_fio(wine, exe, elo, hex_win, len(hex_), linhas, pasta)
            sys.stdout.flush()
    finally:
        if wine is not None:
            wine.termina()
        shutil.rmtree(pasta, ignore_errors=True)


if __name__ == "__main__":
    main()
