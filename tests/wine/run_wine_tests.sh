#!/usr/bin/env bash
# The Windows build under wine, in a private wine prefix made in a temporary
# folder (its wineserver started and ended here):
#   - the i686 xagterm.exe is a PE32 executable;
#   - the x64 unit tests, as one run of their executable;
#   - end to end, COM1 and COM12 mapped to pseudo-terminals that xagsim plays:
#     the banner, an upload from the command line in lockstep (the wire bytes
#     from xagsim --log), the line's rate read back on the pseudo-terminal,
#     and an unmapped COM9.
# A wine run proves something only by what it printed: every check looks at
# the output. Needs `make build windows` first (xagsim from the default build).
set -euo pipefail
cd "$(dirname "$0")/../.."
raiz=$PWD

xagterm=$raiz/build/windows-x64/xagterm.exe
xagterm32=$raiz/build/windows-x86/xagterm.exe
unitarios=$raiz/build/windows-x64/tests/unit/unit_tests.exe
xagsim=$raiz/build/default/sim/xagsim
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}

for f in "$xagterm" "$xagterm32" "$unitarios" "$xagsim"; do
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

# Starts xagsim with its log in $2; prints the pty's path into variable $1.
inicia_simulador() {
  "$xagsim" --log "$2" >"$2.caminho" &
  simuladores+=($!)
  local fim=$((SECONDS + 10))
  until [ -s "$2.caminho" ] || [ $SECONDS -ge $fim ]; do sleep 0.1; done
  printf -v "$1" '%s' "$(head -1 "$2.caminho")"
}

# --- the 32-bit build --------------------------------------------------------
tipo=$(file -b "$xagterm32")
confere "i686 xagterm.exe is PE32 ($tipo)" '[[ $tipo == "PE32 executable"*"Intel 80386"* ]]'

# --- the prefix and its wineserver, started here (its own output to a file) ---
inicia_servidor() { mkdir -p "$WINEPREFIX"; "$WINESERVER" -p >>"$pasta/wineserver.log" 2>&1; }
inicia_servidor
"$WINE" wineboot -i >"$pasta/wineboot.log" 2>&1 || { cat "$pasta/wineboot.log" >&2; exit 1; }

# --- unit tests: one run of the whole executable -------------------------------
set +e
(cd "$pasta" && "$WINE" "$unitarios" --gtest_brief=1 >"$pasta/unitarios.txt" 2>&1)
estado=$?
set -e
if [ $estado -eq 0 ] && grep -q '^\[  PASSED  \] [1-9][0-9]* tests' "$pasta/unitarios.txt" &&
   ! grep -q 'FAILED' "$pasta/unitarios.txt"; then
  passou "unit tests under wine: $(grep '^\[  PASSED  \]' "$pasta/unitarios.txt")"
else
  cat "$pasta/unitarios.txt" >&2
  falhou "unit tests under wine (status $estado)"
fi

# --- end to end ----------------------------------------------------------------
inicia_simulador com1 "$pasta/com1.log"
inicia_simulador com12 "$pasta/com12.log"
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$com1" /f >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$com12" /f >/dev/null 2>&1
"$WINESERVER" -k; "$WINESERVER" -w   # the ports are mapped when it starts again
inicia_servidor

printf ':0300300002337A1E\r\n:0400000012345678E8\r\n:00000001FF\r\n' >"$pasta/up.hex"
hex_win="Z:${pasta//\//\\}\\up.hex"

# The terminal loop never ends by itself here: each run is stopped once its
# output is complete.
"$WINE" "$xagterm" COM1 b=57600 "$hex_win" </dev/null >"$pasta/com1.out" 2>"$pasta/com1.err" &
xagterm_pid=$!
espera_linhas "$pasta/com1.out" $'.\r\r' 3 30 || true
velocidade=$(stty -F "$com1" speed 2>&1 || true)
kill "$xagterm_pid" 2>/dev/null || true
wait "$xagterm_pid" 2>/dev/null || true
termina_simulador 0

banner=$'Terminal COM1 57600 baud\r\nCtrl-X para sair\r\nCtrl-U Grava arquivo hex\r\nCtrl-F Menu de programacao do XAG49\r\n'
upload=$':0300300002337A1E\r\r\n.\r\r\n:0400000012345678E8\r\r\n.\r\r\n:00000001FF\r\r\n.\r\r\n'
le_arquivo saida "$pasta/com1.out"
confere "COM1: the banner, with CR LF line ends" '[[ $saida == "$banner"* ]]'
confere "COM1: every echo and every answer shown" '[[ $saida == "$banner$upload" ]]'
confere "COM1: nothing on standard error" '[ ! -s "$pasta/com1.err" ]'
confere "COM1: the line runs at 57600 baud (stty: $velocidade)" '[ "$velocidade" = 57600 ]'

# The wire: each byte received is echoed before the next one comes.
esperado=$(od -An -tx1 -v "$pasta/up.hex" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
recebido=$(awk '$1 == "rx" { printf "%s%s", s, tolower($2); s = " " }' "$pasta/com1.log")
confere "COM1: the wire carries the file's bytes, in order" '[ "$recebido" = "$esperado" ]'
passo=$(awk '$1 == "rx" { if (rx != "") bad = 1; rx = $2; next }
             $1 == "tx" && rx != "" { if ($2 != rx) bad = 1; rx = "" }
             END { print (bad || rx != "") ? "fora" : "lockstep" }' "$pasta/com1.log")
confere "COM1: each byte goes out only after the echo of the one before" '[ "$passo" = lockstep ]'

# COM12 (only reachable as \\.\COM12), named in that form on the command
# line, with --batch: the upload's status says it was answered.
printf ':00000001FF\r\n' >"$pasta/fim.hex"
set +e
timeout 60 "$WINE" "$xagterm" '\\.\COM12' "${hex_win%up.hex}fim.hex" --batch </dev/null \
  >"$pasta/com12.out" 2>"$pasta/com12.err"
estado=$?
set -e
termina_simulador 1
le_arquivo saida "$pasta/com12.out"
le_arquivo erro "$pasta/com12.err"
inicio=$'Terminal \\\\.\\COM12 9600 baud\r\n'
fim=$':00000001FF\r\r\n.\r\r\n'
confere "\\\\.\\COM12 --batch: status 0 (got $estado)" '[ $estado -eq 0 ]'
confere "\\\\.\\COM12: opened at 9600 baud and answered" '[[ $saida == "$inicio"*"$fim" ]]'
confere "\\\\.\\COM12: the outcome line" '[[ $erro == *"fim.hex: 1 linhas enviadas"* ]]'
confere "\\\\.\\COM12: the bytes reached the line" 'grep -q "^rx 3A" "$pasta/com12.log"'

# COM9 names no device.
set +e
"$WINE" "$xagterm" COM9 </dev/null >"$pasta/com9.out" 2>"$pasta/com9.err"
estado=$?
set -e
le_arquivo erro "$pasta/com9.err"
confere "COM9: status 1 (got $estado)" '[ $estado -eq 1 ]'
esperado=$'Nao abriu a COM9\r\nCOM9 (\\\\.\\COM9): No such file or directory\r\n'
confere "COM9: \"Nao abriu a COM9\" on standard error" '[ "$erro" = "$esperado" ]'
confere "COM9: nothing on standard output" '[ ! -s "$pasta/com9.out" ]'

if [ $falhas -ne 0 ]; then
  echo "wine tests: $falhas FAILED" >&2
  exit 1
fi
echo "wine tests: all passed"
