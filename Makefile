# Front over CMake. `make run` builds and starts the demo, `make showcase` the 3D showcase, and
# `make test` builds and runs every test (normal build, then address/undefined sanitizers, then
# bounded fuzzing). All install what is missing first.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
GENERATOR ?= Ninja
export CCACHE_NOHASHDIR = 1

.PHONY: all deps configure build run showcase test format-check test-main test-asan test-fuzz bench format clean

all: build

deps:
	@./scripts/install-deps

configure:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DVEXA_WERROR=ON

build: deps configure
	cmake --build $(BUILD)

run: build
	./$(BUILD)/tileburst

showcase: build
	./$(BUILD)/showcase

test: deps format-check test-main test-asan test-fuzz

test-main: configure
	cmake --build $(BUILD)
	ctest --test-dir $(BUILD) --output-on-failure

test-asan:
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DVEXA_WERROR=ON -DVEXA_SANITIZE=ON -DVEXA_BENCH=OFF
	cmake --build $(ASAN_BUILD)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -LE e2e

test-fuzz:
	@./scripts/fuzz $(FUZZ_BUILD)

bench: build
	@for b in $(BUILD)/bench_*; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

# The tracked C and C++ sources, formatted by the clang-format that scripts/install-deps installs.
SOURCES = $$(git ls-files '*.cpp' '*.h' '*.c')

format-check:
	@clang-format --dry-run --Werror $(SOURCES) && echo "format-check: every tracked source is formatted"

format:
	clang-format -i $(SOURCES)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
