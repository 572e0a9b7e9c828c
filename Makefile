# The two everyday commands: `make demo` and `make test`. Both build what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
DEMO_DB ?= $(HOME)/.local/share/orvanta/demo.sqlite
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build demo test bench fuzz format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: deps build
	scripts/demo "$(BUILD)" "$(DEMO_DB)"

test: deps build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps build
	scripts/run-bench "$(BUILD)"

# libFuzzer targets (fuzz/) in a clang build of their own, each run FUZZ_SECONDS over its corpus.
FUZZ_BUILD ?= $(BUILD)-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

fuzz:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DORVANTA_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-targets
	scripts/run-fuzz "$(FUZZ_BUILD)" "$(FUZZ_SECONDS)" $(FUZZ_TARGETS)

format:
	find host db suite server CLI tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD)
