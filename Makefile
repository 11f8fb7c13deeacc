# The two commands a new user needs; everything else is CMake.
.PHONY: all build demo test test-asan bench clean fuzz fuzz-build tidy test-valgrind

all: build

build:
	cmake --preset default
	cmake --build --preset default

demo: build
	./build/default/sim/xagsim -- ./build/default/xagterm '{port}' b=115200 ./build/default/demo.hex

test: build
	ctest --preset default

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	./build/default/bench/xagbench

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
