# The entry points for a fresh machine: `make` builds, `make demo` shows the component at work,
# `make test` runs the tests. Build output goes to $(BUILD_DIR)/logs/ and is shown only when a
# step fails.
BUILD_DIR ?= build
# Benchmarks measure what users install: a Release build of its own, beside the test build.
BENCH_BUILD_DIR ?= build-release
JOBS ?= $(shell nproc)
LOGS = $(BUILD_DIR)/logs

# What the demo needs: the host, the reference service and the library with its files.
DEMO_TARGETS = ovk-host ovk-refservice ovk_client

.PHONY: all deps configure build test demo bench sanitize fuzz format format-check clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@scripts/quiet.sh $(LOGS)/configure.log \
	  cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

build: configure
	@echo "Building everything (log: $(LOGS)/build.log) ..."
	@scripts/quiet.sh $(LOGS)/build.log cmake --build $(BUILD_DIR) -j $(JOBS)
	@echo "Built: $(BUILD_DIR)/bin and $(BUILD_DIR)/lib"

test: build
	@scripts/test.sh $(BUILD_DIR) $(JOBS)

demo: configure
	@echo "Building what the demo needs (log: $(LOGS)/demo-build.log) ..."
	@scripts/quiet.sh $(LOGS)/demo-build.log cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO_TARGETS)
	@if scripts/demo.sh $(BUILD_DIR); then \
	  echo "Demo: PASSED - the component ran against the reference service."; \
	else \
	  echo "Demo: FAILED - see the output above."; exit 1; \
	fi

bench: deps
	@scripts/quiet.sh $(BENCH_BUILD_DIR)/logs/configure.log \
	  cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DOVK_BUILD_TESTS=OFF
	@echo "Building the Release benchmarks (log: $(BENCH_BUILD_DIR)/logs/build.log) ..."
	@scripts/quiet.sh $(BENCH_BUILD_DIR)/logs/build.log cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	@scripts/bench.sh $(BENCH_BUILD_DIR)

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/.
sanitize: deps
	@JOBS=$(JOBS) scripts/sanitize.sh build-sanitize

# Each libFuzzer harness of fuzz/ for FUZZ_SECONDS (default 20) over its corpus, built with
# clang in build-fuzz/.
fuzz:
	@scripts/install-deps.sh --fuzz
	@JOBS=$(JOBS) scripts/fuzz.sh build-fuzz

SOURCES = $(shell git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null)

format:
	@clang-format -i $(SOURCES)

# Fails when a source file is not formatted the way .clang-format says.
format-check:
	@clang-format --dry-run -Werror $(SOURCES)

clean:
	@rm -rf $(BUILD_DIR) $(BENCH_BUILD_DIR) build-sanitize build-fuzz
