#!/usr/bin/env python3
"""xagterm.exe under wine on COMn, its console a pseudo-terminal played here
(UTF-8, code page 437): types "a", then "b" while xagsim stalls the line, then
Ctrl-X. Prints what it saw. Usage: tecla_na_paragem.py WINE EXE COMn ERRFILE
"""
import os
import pty
import select
import subprocess
import sys
import time

wine, exe, porta, erro = sys.argv[1:5]
mestre, escravo = pty.openpty()
with open(erro, "wb") as e:
    ambiente = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")
    proc = subprocess.Popen([wine, exe, porta], stdin=escravo, stdout=escravo, stderr=e, env=ambiente)
os.close(escravo)
visto = b""


def le(segundos):
    global visto
    fim = time.monotonic() + segundos
    while time.monotonic() < fim:
        prontos, _, _ = select.select([mestre], [], [], 0.05)
        if prontos:
            try:
                visto += os.read(mestre, 4096)
            except OSError:
                return


limite = time.monotonic() + 60
while b"XAG49" not in visto and time.monotonic() < limite:
    le(0.1)
os.write(mestre, b"a")
le(0.5)
os.write(mestre, b"b")
le(3.5)
os.write(mestre, b"\x18")
try:
    proc.wait(10)
except subprocess.TimeoutExpired:
    proc.kill()
    proc.wait()
print("banner" if b"XAG49" in visto else "no banner")
print("0x87 shown as U+00E7" if "\u00e7".encode() in visto else "0x87 shown otherwise")
print("status %d" % proc.returncode)
