# Entry points. Each target installs what is missing first (scripts/install-deps).
#   make demo    build and run the simulator on its built-in scenario
#   make test    build everything and run every test
#   make test32  the 32-bit build and its tests       make asan   the sanitizer build and tests
#   make tsan    the ThreadSanitizer build and its tests (storms included), no report allowed
#   make fuzz    build the fuzz targets and run each briefly    make bench   benchmarks
#   make test-browser  the report page of a generated fleet in headless Chromium
#   make package the Debian packages in build/packages/, checked (lintian, contents, README)

JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
CTEST := ctest --output-on-failure -j $(JOBS) --timeout 300

.PHONY: deps build test test-browser test32 asan tsan fuzz bench demo package clean

deps:
	@./scripts/install-deps base

build/build.ninja: | deps
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

test: build
	cd build && $(CTEST)

# The page that `errlog report` writes, opened in headless Chromium; screenshots in build/browser.
test-browser: build
	@./scripts/install-deps browser
	python3 tests/browser/report_page_browser.py --bin build/bin --out build/browser

# Some kernels run without 32-bit emulation; the 32-bit tests then run under qemu-i386.
test32: deps
	@./scripts/install-deps m32
	cmake -S . -B build32 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/m32.cmake \
	    $(shell ./scripts/m32-emulator)
	cmake --build build32 -j $(JOBS)
	cd build32 && $(CTEST)

asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DERR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# Any report fails its test: the runtime exits with status 66 after one. tests/tsan.supp holds
# the suppressions, each with its reason.
tsan: deps
	cmake -S . -B build-tsan $(CMAKE_GEN) -DERR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" $(CTEST)

FUZZ_SECONDS ?= 60
fuzz: deps
	@./scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DERR_FUZZ=ON -DERR_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run build-fuzz $(FUZZ_SECONDS)

bench: deps
	@./scripts/install-deps bench
	cmake -S . -B build-bench $(CMAKE_GEN) -DERR_BENCH=ON -DERR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)

demo: build
	./build/bin/errsim --root ./errsim-root

# The Debian packages (debian/: liberr1, liberr-dev, librtx-host1, librtx-host-dev, err-tools
# and their -dbgsym packages) into build/packages/, then checked by tests/package_test.sh.
# With ccache present the packages' build uses it.
CCACHE_ARGS := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
package: build
	@./scripts/install-deps package
	CCACHE_DIR=$${CCACHE_DIR:-$$HOME/.cache/ccache} ERR_DEB_CMAKE_ARGS="$(CCACHE_ARGS)" \
	    ./scripts/build-packages build/packages
	./tests/package_test.sh build/packages .

clean:
	rm -rf build build32 build-asan build-tsan build-fuzz build-bench
