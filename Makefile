# The two commands of the README: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_GEN = -G Ninja
BUILD_TYPE ?= Release

.PHONY: deps configure build run test test-plain test-asan test-tsan bench fuzz clean

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build build -j $(JOBS)

# With a display (DISPLAY or WAYLAND_DISPLAY) the main window shows; without one the program runs
# headless and says so (`xvfb-run make run` gives it a virtual display).
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then echo "make run: showing the main window"; \
	else echo "make run: no display (DISPLAY and WAYLAND_DISPLAY are unset): running headless; xvfb-run make run shows the window on a virtual display"; fi
	./build/src/app/velmora

# Plain build (tests and benchmarks), then the AddressSanitizer + UndefinedBehaviorSanitizer build,
# then the ThreadSanitizer build of the concurrency tests. The last line printed is CTest's summary.
test: deps
	$(MAKE) --no-print-directory test-plain test-tsan test-asan

test-plain: configure
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

# The sanitizer builds make each folder's library a shared library and keep line tables only,
# compressed: the test programs then carry neither another copy of every library nor its debug
# information (the address build took over 9 GiB of disk with static libraries, about 1 GiB so).
SAN_LINK = -Wl,--compress-debug-sections=zlib
SAN_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -gz" -DCMAKE_C_FLAGS=-gz \
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_EXE_LINKER_FLAGS=$(SAN_LINK) \
  -DCMAKE_SHARED_LINKER_FLAGS=$(SAN_LINK) -DCMAKE_MODULE_LINKER_FLAGS=$(SAN_LINK) -DVELMORA_SHARED_MODULES=ON

test-asan:
	cmake -S . -B build-asan $(CMAKE_GEN) $(SAN_FLAGS) -DVELMORA_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_GEN) $(SAN_FLAGS) -DVELMORA_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) --no-tests=ignore

bench: build
	bash bench/run-all.sh

# The libFuzzer targets of fuzz/ (clang, AddressSanitizer + UndefinedBehaviorSanitizer), each run
# for FUZZ_SECONDS from its seed corpus; FUZZ_TARGET picks targets by name. `make test` replays
# the seed corpora in its own builds.
FUZZ_SECONDS ?= 60
FUZZ_TARGET ?=
fuzz: deps
	cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGET)

clean:
	rm -rf build build-asan build-tsan build-fuzz
