#!/usr/bin/env bash
# The Windows builds under wine, both of them (x64 and i686, the latter on
# 32-bit wine), in a private wine prefix made in a temporary folder (its
# wineserver started and ended here). For each build:
#   - the unit tests, and the Win32 port layer's tests, one run each;
#   - end to end, COM1, COM2 and COM12 mapped to pseudo-terminals that xagsim
#     plays: the banner, an upload from the command line in lockstep (the wire
#     bytes from xagsim --log), the line's rate read back on the
#     pseudo-terminal, --batch on \\.\COM12, an unmapped COM9, a CTS
#     handshake left on the line (crtscts) cleared, and a key typed while the
#     line takes nothing delivered once it takes again.
# A wine run proves something only by what it printed: every check looks at
# the output. Needs `make build windows` first (xagsim from the default build).
set -euo pipefail
cd "$(dirname "$0")/../.."
raiz=$PWD

xagsim=$raiz/build/default/sim/xagsim
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}
arquiteturas=(x64 x86)
# Some kernels run no 32-bit programs at all (no IA-32 emulation): there the
# 32-bit wine loader cannot start, `wine` with it, and the i686 .exe cannot
# run. The x64 one still runs on wine64 itself; the i686 one is only built
# and checked (PE32, Windows 6.1), and that is said plainly.
if [ "$WINE" = wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  WINE=/usr/lib/wine/wine64
  arquiteturas=(x64)
  echo "SKIP: i686 .exe runs under wine: this kernel cannot run 32-bit programs ($(uname -r))"
fi

for f in "$xagsim" "$raiz"/build/windows-{x64,x86}/{xagterm.exe,tests/unit/unit_tests.exe,tests/unit/win32_tests.exe,tests/unit/filhos_tests.exe}; do
  [ -e "$f" ] || { echo "FAIL: $f is missing (make build windows)" >&2; exit 1; }
done

pasta=$(mktemp -d "${TMPDIR:-/tmp}/xag-wine.XXXXXX")
export WINEPREFIX=$pasta/prefixo WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
simuladores=()
termina() {
  for p in "${simuladores[@]}"; do kill "$p" 2>/dev/null || true; done
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  if [ -n "${XAG_WINE_KEEP:-}" ]; then echo "kept $pasta" >&2; else rm -rf "$pasta"; fi
}
trap termina EXIT

falhas=0
passou() { echo "ok:   $1"; }
falhou() { echo "FAIL: $1" >&2; falhas=$((falhas + 1)); }
confere() { if eval "$2"; then passou "$1"; else falhou "$1"; fi; }

# Waits up to $4 seconds for file $1 to hold the line $2 (a CR at its end is
# part of it) $3 times.
espera_linhas() {
  local fim=$((SECONDS + $4))
  while [ $SECONDS -lt $fim ]; do
    [ "$(grep -cxF -- "$2" "$1" 2>/dev/null)" -ge "$3" ] && return 0
    sleep 0.2
  done
  return 1
}

# Variable $1 gets all of file $2, trailing line ends included.
le_arquivo() {
  local c
  c=$(cat "$2"; echo x)
  printf -v "$1" '%s' "${c%x}"
}

# Ends the xagsim started as number $1, so that its log is complete.
termina_simulador() {
  kill "${simuladores[$1]}" 2>/dev/null || true
  wait "${simuladores[$1]}" 2>/dev/null || true
}

# Starts xagsim (options $4...) with its log in $2 and its pty reached by the
# symbolic link $3 (what the COM port is mapped to); prints the pty's path
# into variable $1.
inicia_simulador() {
  local var=$1 log=$2 elo=$3
  shift 3
  : >"$log"
  rm -f "$log.caminho"
  "$xagsim" --log "$log" "$@" >"$log.caminho" &
  simuladores+=($!)
  local fim=$((SECONDS + 10))
  until [ -s "$log.caminho" ] || [ $SECONDS -ge $fim ]; do sleep 0.1; done
  printf -v "$var" '%s' "$(head -1 "$log.caminho")"
  ln -sfn "${!var}" "$elo"
}

# --- the 32-bit build --------------------------------------------------------
tipo=$(file -b build/windows-x86/xagterm.exe)
confere "i686 xagterm.exe is PE32 ($tipo)" '[[ $tipo == "PE32 executable"*"Intel 80386"* ]]'
for arq in x64 x86; do
  versao=$(x86_64-w64-mingw32-objdump -p "build/windows-$arq/xagterm.exe" | awk '/MajorSubsystemVersion/ { M = $2 } /MinorSubsystemVersion/ { m = $2 } END { print M "." m }')
  confere "$arq xagterm.exe asks for Windows 6.1 or later (subsystem $versao)" '[ "$versao" = 6.1 ]'
done

# --- the prefix and its wineserver, started here (its own output to a file) ---
inicia_servidor() { mkdir -p "$WINEPREFIX"; "$WINESERVER" -p >>"$pasta/wineserver.log" 2>&1; }
inicia_servidor
"$WINE" wineboot -i >"$pasta/wineboot.log" 2>&1 || { cat "$pasta/wineboot.log" >&2; exit 1; }

# --- the ports: COM1, COM2 and COM12 are links that each run points at its
# own xagsim; they are mapped once, when the wineserver starts again ---------
for com in COM1 COM2 COM12; do
  "$WINE" reg add 'HKLM\Software\Wine\Ports' /v $com /d "$pasta/${com,,}" /f >/dev/null 2>&1
done
"$WINESERVER" -k; "$WINESERVER" -w
inicia_servidor

printf ':0300300002337A1E\r\n:0400000012345678E8\r\n:00000001FF\r\n' >"$pasta/up.hex"
printf ':00000001FF\r\n' >"$pasta/fim.hex"
hex_win="Z:${pasta//\//\\}\\up.hex"

# Each run of the whole executable $2 ($1 names it): passed, and said so.
unitarios() {
  local estado
  set +e
  # Wine keeps Windows file names as the host's locale spells them: in the C
  # locale a name with accents (ç, ł, 中) has no spelling and cannot be
  # created at all, which Windows itself never refuses. The tests of such
  # names run in a UTF-8 locale.
  (cd "$pasta" && LC_ALL=C.UTF-8 "$WINE" "$2" --gtest_brief=1 >"$pasta/unitarios.txt" 2>&1)
  estado=$?
  set -e
  if [ $estado -eq 0 ] && grep -q '^\[  PASSED  \] [1-9][0-9]* tests' "$pasta/unitarios.txt" &&
     ! grep -q 'FAILED' "$pasta/unitarios.txt"; then
    passou "$1 under wine: $(grep '^\[  PASSED  \]' "$pasta/unitarios.txt")"
  else
    cat "$pasta/unitarios.txt" >&2
    falhou "$1 under wine (status $estado)"
  fi
}

# The end-to-end checks of xagterm.exe $2 ($1 names the build).
ponta_a_ponta() {
  local a=$1 xagterm=$2 estado saida erro velocidade esperado recebido passo com1 com2 com12

  # The terminal loop never ends by itself here: each run is stopped once its
  # output is complete.
  inicia_simulador com1 "$pasta/com1.log" "$pasta/com1"
  "$WINE" "$xagterm" COM1 b=57600 "$hex_win" </dev/null >"$pasta/com1.out" 2>"$pasta/com1.err" &
  local xagterm_pid=$!
  espera_linhas "$pasta/com1.out" $'.\r\r' 3 30 || true
  velocidade=$(stty -F "$com1" speed 2>&1 || true)
  kill "$xagterm_pid" 2>/dev/null || true
  wait "$xagterm_pid" 2>/dev/null || true
  termina_simulador $((${#simuladores[@]} - 1))

  local banner=$'Terminal COM1 57600 baud\r\nCtrl-X para sair\r\nCtrl-U Grava arquivo hex\r\nCtrl-F Menu de programacao do XAG49\r\n'
  local upload=$':0300300002337A1E\r\r\n.\r\r\n:0400000012345678E8\r\r\n.\r\r\n:00000001FF\r\r\n.\r\r\n'
  le_arquivo saida "$pasta/com1.out"
  confere "$a COM1: the banner, with CR LF line ends" '[[ $saida == "$banner"* ]]'
  confere "$a COM1: every echo and every answer shown" '[[ $saida == "$banner$upload" ]]'
  confere "$a COM1: nothing on standard error" '[ ! -s "$pasta/com1.err" ]'
  confere "$a COM1: the line runs at 57600 baud (stty: $velocidade)" '[ "$velocidade" = 57600 ]'

  # The wire: each byte received is echoed before the next one comes.
  esperado=$(od -An -tx1 -v "$pasta/up.hex" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
  recebido=$(awk '$1 == "rx" { printf "%s%s", s, tolower($2); s = " " }' "$pasta/com1.log")
  confere "$a COM1: the wire carries the file's bytes, in order" '[ "$recebido" = "$esperado" ]'
  passo=$(awk '$1 == "rx" { if (rx != "") bad = 1; rx = $2; next }
               $1 == "tx" && rx != "" { if ($2 != rx) bad = 1; rx = "" }
               END { print (bad || rx != "") ? "fora" : "lockstep" }' "$pasta/com1.log")
  confere "$a COM1: each byte goes out only after the echo of the one before" '[ "$passo" = lockstep ]'

  # COM12 (only reachable as \\.\COM12), named in that form on the command
  # line, with --batch: the upload's status says it was answered.
  inicia_simulador com12 "$pasta/com12.log" "$pasta/com12"
  set +e
  timeout 60 "$WINE" "$xagterm" '\\.\COM12' "${hex_win%up.hex}fim.hex" --batch </dev/null \
    >"$pasta/com12.out" 2>"$pasta/com12.err"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 1))
  le_arquivo saida "$pasta/com12.out"
  le_arquivo erro "$pasta/com12.err"
  local inicio=$'Terminal \\\\.\\COM12 9600 baud\r\n'
  local fim=$':00000001FF\r\r\n.\r\r\n'
  confere "$a \\\\.\\COM12 --batch: status 0 (got $estado)" '[ $estado -eq 0 ]'
  confere "$a \\\\.\\COM12: opened at 9600 baud and answered" '[[ $saida == "$inicio"*"$fim" ]]'
  confere "$a \\\\.\\COM12: the outcome line" '[[ $erro == *"fim.hex: 1 linhas enviadas"* ]]'
  confere "$a \\\\.\\COM12: the bytes reached the line" 'grep -q "^rx 3A" "$pasta/com12.log"'

  # --batch --fast: whole lines, each echo compared, the same bytes on the wire.
  inicia_simulador com12 "$pasta/rapido.log" "$pasta/com12"
  set +e
  timeout 60 "$WINE" "$xagterm" '\\.\COM12' b=115200 "$hex_win" --batch --fast </dev/null \
    >"$pasta/rapido.out" 2>"$pasta/rapido.err"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 1))
  le_arquivo saida "$pasta/rapido.out"
  le_arquivo erro "$pasta/rapido.err"
  recebido=$(awk '$1 == "rx" { printf "%s%s", s, tolower($2); s = " " }' "$pasta/rapido.log")
  esperado=$(od -An -tx1 -v "$pasta/up.hex" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
  confere "$a --batch --fast: status 0 (got $estado)" '[ $estado -eq 0 ]'
  confere "$a --batch --fast: every echo and answer shown" '[[ $saida == *"$upload" ]]'
  confere "$a --batch --fast: the outcome line" '[[ $erro == *"up.hex: 3 linhas enviadas"* ]]'
  confere "$a --batch --fast: the wire carries the file's bytes, in order" '[ "$recebido" = "$esperado" ]'

  # COM9 names no device.
  set +e
  "$WINE" "$xagterm" COM9 </dev/null >"$pasta/com9.out" 2>"$pasta/com9.err"
  estado=$?
  set -e
  le_arquivo erro "$pasta/com9.err"
  confere "$a COM9: status 1 (got $estado)" '[ $estado -eq 1 ]'
  esperado=$'Nao abriu a COM9\r\nCOM9 (\\\\.\\COM9): No such file or directory\r\n'
  confere "$a COM9: \"Nao abriu a COM9\" on standard error" '[ "$erro" = "$esperado" ]'
  confere "$a COM9: nothing on standard output" '[ ! -s "$pasta/com9.out" ]'

  # Another program left the CTS handshake on: xagterm clears it.
  inicia_simulador com2 "$pasta/com2.log" "$pasta/com2"
  stty -F "$com2" crtscts
  "$WINE" "$xagterm" COM2 </dev/null >"$pasta/com2.out" 2>"$pasta/com2.err" &
  xagterm_pid=$!
  espera_linhas "$pasta/com2.out" $'Ctrl-F Menu de programacao do XAG49\r' 1 30 || true
  local ajustes
  ajustes=$(stty -F "$com2" -a 2>&1 || true)
  kill "$xagterm_pid" 2>/dev/null || true
  wait "$xagterm_pid" 2>/dev/null || true
  termina_simulador $((${#simuladores[@]} - 1))
  confere "$a COM2: crtscts left by another program is cleared" '[[ $ajustes == *" -crtscts"* ]]'

  # The line takes nothing for 1.5 s after the first key: the key typed
  # meanwhile goes once it takes again, once, with nothing dropped. The
  # board's 0x87 shows as the console's code page (437) shows it.
  inicia_simulador com2 "$pasta/parada.log" "$pasta/com2" --stall-after 1 1500 --send '\x87'
  local visto
  visto=$(python3 tests/wine/tecla_na_paragem.py "$WINE" "$xagterm" COM2 "$pasta/parada.err" 2>&1 || true)
  termina_simulador $((${#simuladores[@]} - 1))
  local depois
  depois=$(awk '/reading again/ { d = 1 } d && $1 == "rx" { printf "%s ", $2 }' "$pasta/parada.log")
  confere "$a stall: the console ran and Ctrl-X ended it ($(echo $visto))" '[[ $visto == banner*"status 0" ]]'
  confere "$a console: the line's 0x87 is the code page's, not ISO 8859-1's" '[[ $visto == *"0x87 shown as U+00E7"* ]]'
  confere "$a stall: the key typed during it reached the line once, after it (${depois:-nothing})" \
    '[ "$depois" = "62 18 " ] && [ "$(grep -c "^rx 62" "$pasta/parada.log")" = 1 ]'
  confere "$a stall: no key dropped" '! grep -q "linha bloqueada" "$pasta/parada.err"'
}

for arq in "${arquiteturas[@]}"; do
  unitarios "$arq unit tests" "$raiz/build/windows-$arq/tests/unit/unit_tests.exe"
  unitarios "$arq Win32 port layer tests" "$raiz/build/windows-$arq/tests/unit/win32_tests.exe"
  unitarios "$arq children (several boards at once)" "$raiz/build/windows-$arq/tests/unit/filhos_tests.exe"
  ponta_a_ponta "$arq" "$raiz/build/windows-$arq/xagterm.exe"
done

# --- several boards at once: COM1 and COM2, each its own xagsim, programmed by
# one command; then the same port named twice in two cases, refused. The x64
# .exe runs under wine64; the i686 one only where 32-bit wine can start (a
# kernel without 32-bit support cannot), and is said to be skipped otherwise.
WINE64=${WINE64:-/usr/lib/wine/wine64}

# Runs .exe $3 with wine $2 on COM1 and COM2 at once ($1 names the build).
placas_de_uma_vez() {
  local a=$1 wine=$2 xagterm=$3 estado saida erro com1 com2 recebido esperado
  inicia_simulador com1 "$pasta/placa1.log" "$pasta/com1"
  inicia_simulador com2 "$pasta/placa2.log" "$pasta/com2"
  set +e
  timeout 90 "$wine" "$xagterm" COM1 COM2 "$hex_win" --batch --fast </dev/null \
    >"$pasta/placas.out" 2>"$pasta/placas.err"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 1))
  termina_simulador $((${#simuladores[@]} - 2))
  le_arquivo saida "$pasta/placas.out"
  le_arquivo erro "$pasta/placas.err"
  confere "$a two boards at once: status 0 (got $estado)" '[ $estado -eq 0 ]'
  for com in COM1 COM2; do
    confere "$a two boards at once: $com's banner" '[[ $saida == *"Terminal $com 9600 baud"* ]]'
    confere "$a two boards at once: $com's outcome line names its port" \
      '[[ $erro == *"xagterm: $com: "*"up.hex: 3 linhas enviadas"* ]]'
  done
  confere "$a two boards at once: the summary" '[[ $erro == *"xagterm: 2 de 2 placas gravadas"* ]]'
  for n in 1 2; do
    recebido=$(awk '$1 == "rx" { printf "%s%s", s, tolower($2); s = " " }' "$pasta/placa$n.log")
    esperado=$(od -An -tx1 -v "$pasta/up.hex" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
    confere "$a two boards at once: board $n got the file's bytes, in order" '[ "$recebido" = "$esperado" ]'
  done

  set +e
  timeout 60 "$wine" "$xagterm" COM1 com1 "$hex_win" --batch </dev/null >"$pasta/repetida.out" 2>"$pasta/repetida.err"
  estado=$?
  set -e
  le_arquivo erro "$pasta/repetida.err"
  confere "$a COM1 and com1: one port named twice, status 2 (got $estado)" '[ $estado -eq 2 ]'
  confere "$a COM1 and com1: said so" '[[ $erro == *"xagterm: com1: porta repetida"* ]]'
}

placas_de_uma_vez x64 "$WINE64" "$raiz/build/windows-x64/xagterm.exe"
set +e
versao32=$(timeout 60 "$WINE" "$raiz/build/windows-x86/xagterm.exe" --version 2>&1 </dev/null)
set -e
if [[ $versao32 == "xagterm "* ]]; then
  placas_de_uma_vez x86 "$WINE" "$raiz/build/windows-x86/xagterm.exe"
else
  echo "skipped: x86 two boards at once: 32-bit wine cannot start the i686 xagterm.exe here ($(echo "$versao32" | head -1))"
fi
# --- the flash cycle from one command: the x64 build only (the i686 one
# would need 32-bit wine). The board's status byte starts at 7F so that what
# --status reads back is the board's, not a default ---------------------------
ciclo_x64() {
  local xagterm=$raiz/build/windows-x64/xagterm.exe estado saida erro com2
  [ -e "$xagterm" ] || return 0
  inicia_simulador com2 "$pasta/ciclo.log" "$pasta/com2" --status 0x7F
  set +e
  timeout 60 "$WINE" "$xagterm" COM2 b=115200 "$hex_win" --batch --erase --status </dev/null \
    >"$pasta/ciclo.out" 2>"$pasta/ciclo.err"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 1))
  le_arquivo saida "$pasta/ciclo.out"
  le_arquivo erro "$pasta/ciclo.err"
  confere "x64 --erase --status: status 0 (got $estado)" '[ $estado -eq 0 ]'
  confere "x64 --erase --status: the file's block erased, then the file sent" \
    '[[ $erro == *"bloco 0 [0000.1FFF] apagado"*"up.hex: 3 linhas enviadas"* ]]'
  confere "x64 --erase --status: the board's status byte read back" \
    '[[ $saida == *"Status=7F"*"Boot vector=00"* && $erro == *"byte de status 7F, vetor de boot 00"* ]]'
}
ciclo_x64

# --- a board on another machine: ser2net on 127.0.0.1 serves an xagsim
# pty; the x64 xagterm.exe reaches it through rfc2217:// (an upload, a
# connection the server closes, a port nobody listens on) ------------------

# xagsim (log $1) behind ser2net on a free port, put in variable porta_rede.
serve_rede() {
  local linha fim
  porta_rede=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  inicia_simulador linha "$1" "$1.pty"
  printf 'connection: &board\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,local\n  options:\n    chardelay: false\n' \
    "$porta_rede" "$linha" >"$pasta/ser2net.yaml"
  /usr/sbin/ser2net -n -d -c "$pasta/ser2net.yaml" >>"$pasta/ser2net.out" 2>&1 &
  simuladores+=($!)
  fim=$((SECONDS + 10))
  until grep -q "0100007F:$(printf %04X "$porta_rede") 00000000:0000 0A" /proc/net/tcp || [ $SECONDS -ge $fim ]; do
    sleep 0.1
  done
}

rede() {
  local xagterm=$1 estado saida erro recebido esperado url xagterm_pid
  if [ ! -x /usr/sbin/ser2net ]; then
    echo "skip: ser2net is not installed (network ports)"
    return
  fi
  serve_rede "$pasta/rede.log"
  url="rfc2217://127.0.0.1:$porta_rede"
  set +e
  timeout 60 "$WINE" "$xagterm" "$url" b=115200 "$hex_win" --batch --fast </dev/null \
    >"$pasta/rede.out" 2>"$pasta/rede.err"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 1))
  termina_simulador $((${#simuladores[@]} - 2))
  le_arquivo saida "$pasta/rede.out"
  le_arquivo erro "$pasta/rede.err"
  recebido=$(awk '$1 == "rx" { printf "%s%s", s, tolower($2); s = " " }' "$pasta/rede.log")
  esperado=$(od -An -tx1 -v "$pasta/up.hex" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
  local upload=$':0300300002337A1E\r\r\n.\r\r\n:0400000012345678E8\r\r\n.\r\r\n:00000001FF\r\r\n.\r\r\n'
  confere "x64 rfc2217:// --batch --fast: status 0 (got $estado)" '[ $estado -eq 0 ]'
  confere "x64 rfc2217://: every echo and answer shown" '[[ $saida == "Terminal $url 115200 baud"*"$upload" ]]'
  confere "x64 rfc2217://: the outcome line" '[[ $erro == *"up.hex: 3 linhas enviadas"* ]]'
  confere "x64 rfc2217://: the wire carries the file's bytes, in order" '[ "$recebido" = "$esperado" ]'

  # The server goes away under the terminal: a lost line.
  serve_rede "$pasta/perdida.log"
  url="rfc2217://127.0.0.1:$porta_rede"
  "$WINE" "$xagterm" "$url" --no-reconnect </dev/null >"$pasta/perdida.out" 2>"$pasta/perdida.err" &
  xagterm_pid=$!
  espera_linhas "$pasta/perdida.out" $'Ctrl-F Menu de programacao do XAG49\r' 1 30 || true
  termina_simulador $((${#simuladores[@]} - 1))
  set +e
  wait "$xagterm_pid"
  estado=$?
  set -e
  termina_simulador $((${#simuladores[@]} - 2))
  le_arquivo erro "$pasta/perdida.err"
  confere "x64 rfc2217:// closed by the server: status 3 (got $estado)" '[ $estado -eq 3 ]'
  confere "x64 rfc2217:// closed by the server: said so" '[[ $erro == *"xagterm: linha perdida: $url"* ]]'

  # Nobody listens there now.
  url="tcp://127.0.0.1:$porta_rede"
  set +e
  timeout 60 "$WINE" "$xagterm" "$url" </dev/null >"$pasta/recusa.out" 2>"$pasta/recusa.err"
  estado=$?
  set -e
  le_arquivo erro "$pasta/recusa.err"
  confere "x64 tcp:// refused: status 1 (got $estado)" '[ $estado -eq 1 ]'
  esperado="Nao abriu a $url"$'\r\n'"$url: "
  confere "x64 tcp:// refused: said so" '[[ $erro == "$esperado"?* ]]'
}
rede "$raiz/build/windows-x64/xagterm.exe"

if [ $falhas -ne 0 ]; then
  echo "wine tests: $falhas FAILED" >&2
  exit 1
fi
echo "wine tests: all passed"
