# The two entry points for a fresh machine: `make demo` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test demo bench sanitize fuzz format format-check clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD_DIR)

bench: build
	@scripts/bench.sh $(BUILD_DIR)

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
	@rm -rf $(BUILD_DIR) build-sanitize build-fuzz
