# The two commands a new user needs; everything else is CMake.
.PHONY: all build demo test test-asan bench package clean

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

clean:
	rm -rf build
