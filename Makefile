# The two commands a new user needs; everything else is CMake.
.PHONY: all build demo test test-asan bench clean

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
