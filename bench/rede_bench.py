#!/usr/bin/env python3
"""Speed figures through ser2net on 127.0.0.1, beside the same on xagsim's line.

xagsim --wire (a line at its real pace, 115200 baud) served by ser2net as
rfc2217:// (chardelay: false, no nodelay: the usual accepter), on a free
port, its YAML in a temporary folder. An upload of 101 lines with --batch
--fast against the wire time ((characters + 3 x lines) x 10 / 115200 s), and
lockstep --batch against its floor (characters + 3 x lines ms: one 1 ms poll
per character). Then key to line and line to console latency of the
terminal, on a pseudo-terminal the benchmark plays as the board, directly and
through ser2net (XAG_REDE_AMOSTRAS samples, 2000). Figures, never verdicts. Needs build/default/xagterm and
build/default/sim/xagsim, and /usr/sbin/ser2net. XAG_REDE_VEZES sets how many
runs of each figure (3).
"""
import fcntl
import os
import select
import signal
import socket
import subprocess
import tempfile
import termios
import time
import tty

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
XAGTERM = os.path.join(RAIZ, "build/default/xagterm")
XAGSIM = os.path.join(RAIZ, "build/default/sim/xagsim")
SER2NET = "/usr/sbin/ser2net"
TAXA = 115200
VEZES = int(os.environ.get("XAG_REDE_VEZES", "3"))
AMOSTRAS = int(os.environ.get("XAG_REDE_AMOSTRAS", "2000"))


def registro(endereco, dados):
    corpo = bytes([len(dados), endereco >> 8, endereco & 0xFF, 0]) + dados
    return ":" + corpo.hex().upper() + "%02X" % (-sum(corpo) & 0xFF) + "\n"


def porta_livre():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ouvindo(porta):
    with open("/proc/net/tcp") as f:
        return ("0100007F:%04X 00000000:0000 0A" % porta) in f.read()


def corrida(args, pasta):
    inicio = time.monotonic()
    r = subprocess.run([XAGTERM] + args, cwd=pasta, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return (time.monotonic() - inicio) * 1000.0, r.returncode, r.stderr.decode("latin-1")


def mede(porta_de, pasta, args, linhas):
    tempos = []
    for _ in range(VEZES):
        sim = subprocess.Popen([XAGSIM, "--wire"], stdout=subprocess.PIPE)
        servidor = None
        try:
            linha = sim.stdout.readline().decode().strip()
            porta, servidor = porta_de(linha)
            ms, estado, erros = corrida([porta, "b=%d" % TAXA, "prog.hex"] + args, pasta)
        finally:
            for p in (servidor, sim):
                if p is not None:
                    p.send_signal(signal.SIGTERM)
                    p.wait()
        if estado != 0 or ("%d linhas enviadas" % linhas) not in erros:
            return None, "FAILED, status %s: %s" % (estado, (erros.strip().splitlines() or ["nothing said"])[-1])
        tempos.append(ms)
    return tempos, None


def pty_cru():
    mestre, escravo = os.openpty()
    tty.setraw(mestre)
    return mestre, escravo


def le_ate(fd, texto, segundos):
    visto = b""
    fim = time.monotonic() + segundos
    while texto not in visto and time.monotonic() < fim:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                visto += os.read(fd, 4096)
            except OSError:
                break
    return texto in visto


def latencia(de, para):
    """One byte written at `de`, timed until it is read at `para`: p50, p99, max in ms."""
    tempos = []
    c = ord("a")
    for _ in range(AMOSTRAS):
        while select.select([para], [], [], 0)[0]:
            os.read(para, 4096)
        t0 = time.perf_counter()
        os.write(de, bytes([c]))
        while time.perf_counter() - t0 < 2:
            if select.select([para], [], [], 1)[0] and bytes([c]) in os.read(para, 4096):
                break
        tempos.append((time.perf_counter() - t0) * 1000.0)
        c = ord("a") if c == ord("z") else c + 1
        time.sleep(0.0002)
    tempos.sort()
    return tempos[len(tempos) // 2], tempos[len(tempos) * 99 // 100], tempos[-1]


def latencias(porta_de):
    """The terminal on a console pty, its port the benchmark's own pty (or ser2net serving it)."""
    linha, escravo_linha = pty_cru()
    caminho = os.ttyname(escravo_linha)
    console, escravo_console = os.openpty()
    porta, servidor = porta_de(caminho)
    os.close(escravo_linha)

    def terminal():
        os.setsid()
        fcntl.ioctl(escravo_console, termios.TIOCSCTTY, 0)

    term = subprocess.Popen([XAGTERM, porta, "b=%d" % TAXA], stdin=escravo_console, stdout=escravo_console,
                            stderr=escravo_console, preexec_fn=terminal)
    os.close(escravo_console)
    try:
        if not le_ate(console, b"Ctrl-F Menu", 10):
            return None
        return latencia(console, linha), latencia(linha, console)
    finally:
        for p in (term, servidor):
            if p is not None:
                p.send_signal(signal.SIGTERM)
                p.wait()
        os.close(console)
        os.close(linha)


def main():
    pasta = tempfile.mkdtemp(prefix="rede_bench.")
    texto = "".join(registro(16 * i, bytes((16 * i + j) & 0xFF for j in range(16))) for i in range(100))
    texto += ":00000001FF\n"
    with open(os.path.join(pasta, "prog.hex"), "w") as f:
        f.write(texto)
    linhas = 101
    caracteres = len(texto)
    na_linha = caracteres + 3 * linhas
    fio_ms = na_linha * 10 * 1000.0 / TAXA

    def direto(linha):
        return linha, None

    def por_ser2net(linha):
        porta = porta_livre()
        yaml = os.path.join(pasta, "ser2net.yaml")
        with open(yaml, "w") as f:
            f.write("connection: &placa\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,local\n  options:\n    chardelay: false\n" % (porta, linha))
        servidor = subprocess.Popen([SER2NET, "-n", "-c", yaml], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(300):
            if ouvindo(porta):
                break
            time.sleep(0.01)
        return "rfc2217://127.0.0.1:%d" % porta, servidor

    print("against xagsim --wire at %d baud, %d characters in %d lines (%d runs each, load %.2f):"
          % (TAXA, caracteres, linhas, VEZES, os.getloadavg()[0]))
    for via, porta_de in (("the line itself", direto), ("through ser2net", por_ser2net)):
        for nome, args, de, de_que in (("--batch --fast:", ["--batch", "--fast"], fio_ms, "the wire time"),
                                       ("lockstep --batch:", ["--batch"], float(na_linha), "its floor")):
            tempos, falha = mede(porta_de, pasta, args, linhas)
            if falha:
                print("  %-16s %-18s %s" % (via, nome, falha))
                continue
            print("  %-16s %-18s %s ms: %.3f to %.3f x %s of %.0f ms"
                  % (via, nome, ", ".join("%.0f" % t for t in tempos), min(tempos) / de, max(tempos) / de,
                     de_que, de))
    print("terminal latency at %d baud (%d samples, load %.2f):" % (TAXA, AMOSTRAS, os.getloadavg()[0]))
    for via, porta_de in (("the line itself", direto), ("through ser2net", por_ser2net)):
        r = latencias(porta_de)
        if r is None:
            print("  %-16s FAILED: the terminal did not start" % via)
            continue
        for nome, (p50, p99, maximo) in zip(("key to line:", "line to console:"), r):
            print("  %-16s %-17s p50 %.3f ms  p99 %.3f ms  max %.3f ms" % (via, nome, p50, p99, maximo))
    subprocess.run(["rm", "-rf", pasta])


if __name__ == "__main__":
    main()
