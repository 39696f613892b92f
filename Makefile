# Two entry points for a fresh Debian 12 machine:
#   make run   installs what is missing, builds, starts the window
#   make test  installs what is missing, builds, runs every test through CTest
# Under CI=true `make test` also builds and runs the suite with the sanitizers.

MAKEFLAGS    += --no-print-directory
BUILD_DIR    ?= build
SAN_DIR      ?= build-sanitize
PKG_DIR      ?= build-package
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS  ?=

# Debian packages the build, the tests and the demux tool need.
PACKAGES := build-essential cmake pkg-config \
            qt6-base-dev libgl-dev \
            libgtest-dev libgmock-dev \
            libavformat-dev libavcodec-dev libavutil-dev libswscale-dev \
            libglib2.0-dev \
            ffmpeg mkvtoolnix time \
            fonts-arphic-uming
# Only for `make test`: the cross compiler that checks the Windows code, and
# a private session bus with a recording notification service for the tests
# of mp.exe's desktop notifications, dbus-monitor and dbus-send for the check
# that no test reaches the tester's own bus, and the validators of the
# installed desktop entry and AppStream data, and clang with libFuzzer for
# the fuzz build.
TEST_PACKAGES := g++-mingw-w64-x86-64-posix \
                 dbus-daemon dbus-bin python3-dbusmock \
                 desktop-file-utils appstream \
                 clang libclang-rt-14-dev
# Only for `make package` and `make package-check`: the tools that compute
# the package's dependencies, and lintian.
PACKAGE_PACKAGES := dpkg-dev file lintian

# Fuzzing mp.exe (clang and libFuzzer, in a build folder of its own):
# `make test` runs each fuzz target for FUZZ_TEST_SECONDS (a few seconds,
# 15 under CI=true); `make fuzz` runs them for FUZZ_SECONDS each, e.g.
# `make fuzz FUZZ_SECONDS=3600 FUZZ_TARGET=run` (targets: header, run,
# timecodes). Findings are kept in build-fuzz/tests/fuzz/work/artifacts/.
FUZZ_DIR          ?= build-fuzz
FUZZ_SECONDS      ?= 600
FUZZ_TARGET       ?=
FUZZ_TEST_SECONDS ?= $(if $(filter true,$(CI)),15,2)

# Our own builds (build, test, sanitizer and fuzz builds) treat warnings as
# errors; the package keeps Debian's flags without. CMAKE_FLAGS comes after,
# so CMAKE_FLAGS=-DTCDEMUX_WERROR=OFF turns it off for once.
WERROR := -DTCDEMUX_WERROR=ON

.PHONY: run test build deps test-deps sanitize-test fuzz-build fuzz-test fuzz package package-check package-deps clean

# A small variable-frame-rate MKV to try the window on, made once.
SAMPLE := $(BUILD_DIR)/sample/vfr-sample.mkv

run: build $(SAMPLE)
	./$(BUILD_DIR)/bin/tcdemux

$(SAMPLE): | deps
	./tool/make-vfr-sample.sh $@

test: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz-test
ifeq ($(CI),true)
	$(MAKE) sanitize-test
endif

build: deps
	cmake -S . -B $(BUILD_DIR) $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

sanitize-test: deps
	cmake -S . -B $(SAN_DIR) -DTCDEMUX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

fuzz-build: test-deps
	cmake -S . -B $(FUZZ_DIR) -DTCDEMUX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) \
	  $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz-test: fuzz-build
	cd $(FUZZ_DIR) && FUZZ_SECONDS=$(FUZZ_TEST_SECONDS) ctest --output-on-failure -j $(JOBS) --timeout 600

fuzz: fuzz-build
	cd $(FUZZ_DIR) && FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --output-on-failure -j $(JOBS) \
	  --timeout $$(( $(FUZZ_SECONDS) * 2 + 600 )) -R 'MpFuzz(Corpus|\.$(or $(FUZZ_TARGET),.*))'

# The Debian package, from a build of its own with Debian's compiler flags
# (hardening included), warnings not turned into errors, and no tests:
# $(PKG_DIR)/tcdemux_VERSION_ARCH.deb.
package: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
package: package-deps
	cmake -S . -B $(PKG_DIR) -DCMAKE_BUILD_TYPE=None -DTCDEMUX_BUILD_TESTS=OFF -DTCDEMUX_DEBIAN_DOCS=ON -DTCDEMUX_WERROR=OFF \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_FLAGS)
	cmake --build $(PKG_DIR) -j $(JOBS)
	rm -f $(PKG_DIR)/tcdemux_*.deb
	cd $(PKG_DIR) && cpack -G DEB
	@ls $(PKG_DIR)/tcdemux_*.deb

# The package, then lintian on it (which runs as root only when told so).
package-check: package
	lintian $$( [ "$$(id -u)" -eq 0 ] && echo --allow-root ) --info $(PKG_DIR)/tcdemux_*.deb

deps:
	@./scripts/install-deps.sh $(PACKAGES)

package-deps:
	@./scripts/install-deps.sh $(PACKAGES) $(PACKAGE_PACKAGES)

test-deps:
	@./scripts/install-deps.sh $(PACKAGES) $(TEST_PACKAGES)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(PKG_DIR) $(FUZZ_DIR)
