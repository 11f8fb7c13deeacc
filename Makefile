# The two commands a new user needs; everything else is CMake.
.PHONY: all build demo test test-asan bench windows test-wine bench-wine clean

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
