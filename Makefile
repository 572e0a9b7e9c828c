# The two everyday commands: `make demo` and `make test`. Both build what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
DEMO_DB ?= $(HOME)/.local/share/orvanta/demo.sqlite
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build demo test bench format clean

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

format:
	find host db suite server CLI tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD)
