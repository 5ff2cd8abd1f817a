# Convenience targets over CMake.
BUILD ?= build
JOBS ?= $(shell nproc)
# The CMakePresets.json build that the tests use, in $(BUILD): dev (debug, warnings are errors),
# asan or release. What users run, install and package is the release build in $(RELEASE_BUILD).
PRESET ?= dev
RELEASE_BUILD ?= build-release
# ccache speeds up rebuilds when it is installed; nothing needs it.
ifneq ($(shell command -v ccache),)
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
endif

.PHONY: all deps configure build release run test bench fuzz install package package-check screenshots clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET) -B $(BUILD)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

release: deps
	cmake --preset release -B $(RELEASE_BUILD)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

# Starts the program; without a display it runs on a virtual one.
run: release
	./scripts/run-vantelo.sh $(RELEASE_BUILD)/bin/vantelo

# Every test, with no display needed.
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	./scripts/run-benchmarks.sh $(BUILD)

# Every fuzz target (clang, libFuzzer) for FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
fuzz: deps
	./scripts/run-fuzz.sh $(FUZZ_SECONDS) $(abspath $(BUILD))/fuzz

install: release
	cmake --install $(RELEASE_BUILD)

# The Debian package vantelo_<version>_<arch>.deb in $(RELEASE_BUILD).
package: release
	cd $(RELEASE_BUILD) && cpack -G DEB

# Checks the package with Debian's checkers, then installs, runs and removes it in a fresh
# Debian 12 root (as root; takes a few minutes, most of it fetching packages).
package-check: package
	./scripts/package-check.sh $(RELEASE_BUILD)

# The screenshots that the AppStream metainfo names, made on a virtual display.
screenshots: release
	./scripts/make-screenshots.sh $(RELEASE_BUILD)/bin/vantelo

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)
