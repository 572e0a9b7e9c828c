# The two everyday commands: `make demo` and `make test`. Both build what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
DEMO_DB ?= $(HOME)/.local/share/orvanta/demo.sqlite
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build quiet-build demo demo-pg test test-sanitize bench fuzz package test-package pictures \
	format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The demos build quietly: a few lines of progress, the build system's output in
# $(BUILD)/build.log.
quiet-build:
	@scripts/build-progress "$(BUILD)" "$(JOBS)" $(CMAKE_FLAGS)

demo: deps quiet-build
	scripts/demo "$(BUILD)" "$(DEMO_DB)"

# The demo on PostgreSQL: a cluster of its own in DEMO_PG_DIR (empty: the user's data directory),
# started and stopped with the suite.
DEMO_PG_DIR ?=
demo-pg: deps quiet-build
	scripts/demo-pg "$(BUILD)" "$(DEMO_PG_DIR)"

test: deps build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer in a folder
# of its own. Every process the tests start writes its findings under sanitizer-logs/; any file
# there fails the run, whether or not the test that started the process noticed. The load test
# runs for 15 s a phase here instead of a minute: the sanitizers slow every call down.
SAN_BUILD ?= $(BUILD)-sanitize
SAN_LOGS = $(abspath $(SAN_BUILD))/sanitizer-logs
test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
		-DORVANTA_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	rm -rf $(SAN_LOGS) && mkdir -p $(SAN_LOGS)
	cd $(SAN_BUILD) && QT_QPA_PLATFORM=offscreen ORVANTA_CARGA_SEGUNDOS=15 \
		ASAN_OPTIONS=log_path=$(SAN_LOGS)/asan:detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=log_path=$(SAN_LOGS)/ubsan:print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)
	@if [ -n "$$(ls -A $(SAN_LOGS))" ]; then \
		echo "sanitizer findings:"; cat $(SAN_LOGS)/*; exit 1; fi

bench: deps build
	scripts/run-bench "$(BUILD)"

# The README's pictures in docs/, taken from the suite on a fresh demo database.
pictures: deps build
	scripts/pictures "$(BUILD)"

# libFuzzer targets (fuzz/) in a clang build of their own, each run FUZZ_SECONDS over its corpus
# (or until it has executed FUZZ_RUNS inputs, when that is set).
FUZZ_BUILD ?= $(BUILD)-fuzz
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
FUZZ_TARGETS ?=

fuzz:
	scripts/install-deps --fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DORVANTA_FUZZ=ON -DORVANTA_PCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-targets
	FUZZ_RUNS=$(FUZZ_RUNS) scripts/run-fuzz "$(FUZZ_BUILD)" "$(FUZZ_SECONDS)" $(FUZZ_TARGETS)

# Debian packages orvanta and dfe58000-server in $(BUILD)/packages, built from what they hold
# only (no tests); test-package installs them, runs the service's unit and purges them (root).
package: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target package-contents
	cd $(BUILD) && cpack -G DEB -B packages

test-package: package
	scripts/test-package "$(BUILD)/packages"

# The tree's style (.clang-format; InsertBraces needs clang-format 15 or later: Debian 12's
# clang-format-16 package).
CLANG_FORMAT ?= clang-format-16
format:
	scripts/install-deps --format
	find host db suite server CLI contract tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) \
		-print0 | xargs -0 $(CLANG_FORMAT) -i

clean:
	rm -rf $(BUILD)
