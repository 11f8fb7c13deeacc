# Shortcuts over CMake and CTest: `make demo` and `make test` are the two a new
# user needs; the others build for Windows, package, benchmark and check.
.PHONY: all build demo test test-asan bench package windows test-wine bench-wine clean fuzz fuzz-build tidy test-valgrind

all: build

build:
	cmake --preset default
	cmake --build --preset default

# Only what the demo runs: xagterm, xagsim and the sample hex file.
demo:
	cmake --preset default
	cmake --build --preset default --target xagterm xagsim demo_hex
	./build/default/sim/xagsim -- ./build/default/xagterm '{port}' b=115200 ./build/default/demo.hex

test: build
	ctest --preset default

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	./build/default/bench/xagbench

# A .deb of xagterm, xagsim and their manual pages, built without the tests:
# apt-get install ./build/package/xagterm_*.deb
package:
	cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
	cmake --build build/package --target xagterm xagsim
	cd build/package && cpack -G DEB

# Both Windows builds (MinGW-w64 cross compilers, statically linked .exe).
windows:
	cmake --preset windows-x86
	cmake --build --preset windows-x86
	cmake --preset windows-x64
	cmake --build --preset windows-x64

# The Windows build under wine: unit tests, and end to end against xagsim.
test-wine: build windows
	tests/wine/run_wine_tests.sh

bench-wine: build windows
	bench/wine_bench.py

clean:
	rm -rf build

# libFuzzer targets (clang): each runs FUZZ_SECONDS over its corpus; new
# inputs it finds go to build/fuzz/corpus, crashes to build/fuzz/crashes.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = fuzz_argumentos fuzz_upload fuzz_menu fuzz_registo

fuzz-build:
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DXAG_FUZZ=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined
	cmake --build build/fuzz --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t build/fuzz/crashes; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  ./build/fuzz/tests/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -close_fd_mask=3 \
	    -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/$$t- \
	    build/fuzz/corpus/$$t tests/fuzz/corpus/$$t 2>build/fuzz/$$t.log \
	    || { tail -n 60 build/fuzz/$$t.log; exit 1; }; \
	  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' build/fuzz/$$t.log || true; \
	done

# clang-tidy over the program's own code with the checked-in .clang-tidy;
# any finding fails.
TIDY_FILES = $(wildcard frontend/*.cpp saida/*.cpp serial/*.cpp programming/*.cpp platform/linux/*.cpp sim/*.cpp)

# The Win32 files are checked as the i686 build compiles them: its compile
# database, clang told the MinGW target and given MinGW's C++ headers.
TIDY_WIN32_FILES = $(wildcard platform/win32/*.cpp)
MINGW_CXX = $(firstword $(wildcard /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++))
TIDY_WIN32_ARGS = -extra-arg=--target=i686-w64-mingw32 -extra-arg=-isystem$(MINGW_CXX) \
  -extra-arg=-isystem$(MINGW_CXX)/i686-w64-mingw32 -extra-arg=-isystem$(MINGW_CXX)/backward

tidy:
	cmake -S . -B build/tidy -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	run-clang-tidy -quiet -p build/tidy -j $$(nproc) $(TIDY_FILES) >build/tidy/findings.txt 2>&1 \
	  || { sed 's/\x1b\[[0-9;]*m//g' build/tidy/findings.txt | grep -E 'error:|warning:' \
	       || tail -n 40 build/tidy/findings.txt; exit 1; }
	cmake -S . -B build/tidy-win32 -G Ninja --toolchain cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=OFF >/dev/null
	run-clang-tidy -quiet -p build/tidy-win32 -j $$(nproc) $(TIDY_WIN32_ARGS) $(TIDY_WIN32_FILES) \
	  >build/tidy-win32/findings.txt 2>&1 \
	  || { sed 's/\x1b\[[0-9;]*m//g' build/tidy-win32/findings.txt | grep -E 'error:|warning:' \
	       || tail -n 40 build/tidy-win32/findings.txt; exit 1; }

# The end-to-end tests with every xagterm under valgrind's memcheck (the
# pty harness puts XAG_VALGRIND before it). Any error or definite leak
# fails; valgrind's notes on terminal ioctls it does not model (TIOCEXCL)
# are not errors. Left out: the tests that measure xagterm's processor use
# (they would measure valgrind's work), count its open descriptors
# (valgrind's own are among them), or hold every fault to the poll budgets
# (the fault matrix).
VALGRIND_EXCLUDE = WithoutSpinning|DoesNotSpin|AnotherProgramMayTakeThePortWhileTheLineIsAway|fault_matrix

test-valgrind: build
	rm -rf build/valgrind && mkdir -p build/valgrind
	XAG_VALGRIND="$$(command -v valgrind) -q --error-exitcode=99 --leak-check=full \
	  --log-file=$(CURDIR)/build/valgrind/%p.log" \
	  ctest --preset default -j2 -R '^e2e[.]' -E '$(VALGRIND_EXCLUDE)'
	@ls build/valgrind/*.log >/dev/null
	@! grep -vE '^(==[0-9]+==)? *$$|unhandled ioctl|could cause spurious|README_MISSING_SYSCALL' \
	  build/valgrind/*.log
