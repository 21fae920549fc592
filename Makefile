# SPDX-License-Identifier: MIT
# The entry points for a fresh machine: `make` builds, `make demo` shows the component at work,
# `make test` runs the tests. Build output goes to $(BUILD_DIR)/logs/ and is shown only when a
# step fails.
BUILD_DIR ?= build
# Benchmarks measure what users install: a Release build of its own, beside the test build.
BENCH_BUILD_DIR ?= build-release
JOBS ?= $(shell nproc)
LOGS = $(BUILD_DIR)/logs
# WERROR=ON makes every compiler warning an error, in the test, sanitizer and fuzzing builds
# alike; .ci/run sets it.
WERROR ?= OFF
export OVK_WERROR = $(WERROR)

# What the demo needs: the host, the reference service and the library with its files.
DEMO_TARGETS = ovk-host ovk-refservice ovk_client
# What an install carries; the tests and benchmarks are not built for it.
INSTALL_TARGETS = ovk_client ovk-host ovk-host-desktop ovk-refservice

# Where `make install` puts the component (PREFIX=/opt/ovk_client make install, or with
# DESTDIR=/staging for a staged install).
PREFIX ?= /usr/local
export DESTDIR
# The API reference goes into installs and packages whenever Doxygen is there to make it.
MAYBE_DOCS = if command -v doxygen >/dev/null; then \
  scripts/quiet.sh $(LOGS)/docs.log cmake $(BUILD_DIR) && \
  scripts/quiet.sh $(LOGS)/docs.log cmake --build $(BUILD_DIR) --target docs; fi

.PHONY: all deps configure build test demo bench sanitize fuzz format format-check clean docs \
        install installable package

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@scripts/quiet.sh $(LOGS)/configure.log \
	  cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	  -DOVK_WERROR=$(WERROR)

build: configure
	@echo "Building everything (log: $(LOGS)/build.log) ..."
	@scripts/build-progress.sh $(LOGS)/build.log cmake --build $(BUILD_DIR) -j $(JOBS)
	@echo "Built: $(BUILD_DIR)/bin and $(BUILD_DIR)/lib"

test: build
	@scripts/test.sh $(BUILD_DIR) $(JOBS)

demo: configure
	@echo "Building what the demo needs (log: $(LOGS)/demo-build.log) ..."
	@scripts/build-progress.sh $(LOGS)/demo-build.log cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO_TARGETS)
	@if scripts/demo.sh $(BUILD_DIR); then \
	  echo "Demo: PASSED - the component ran against the reference service."; \
	else \
	  echo "Demo: FAILED - see the output above."; exit 1; \
	fi

# The API reference from the public headers, in $(BUILD_DIR)/docs/api/html; any warning of
# Doxygen (an undocumented public member) fails it.
docs: configure
	@scripts/install-deps.sh --docs
	@scripts/quiet.sh $(BUILD_DIR)/logs/configure.log cmake $(BUILD_DIR)
	@scripts/quiet.sh $(LOGS)/docs.log cmake --build $(BUILD_DIR) --target docs
	@echo "API reference: $(BUILD_DIR)/docs/api/html/index.html"

installable: configure
	@echo "Building what an install carries (log: $(LOGS)/install-build.log) ..."
	@scripts/build-progress.sh $(LOGS)/install-build.log cmake --build $(BUILD_DIR) -j $(JOBS) --target $(INSTALL_TARGETS)
	@$(MAYBE_DOCS)

# The component, its headers, package files, tools and documentation under PREFIX.
install: installable
	@scripts/quiet.sh $(LOGS)/install.log cmake --install $(BUILD_DIR) --prefix $(PREFIX)
	@echo "Installed under $(DESTDIR)$(PREFIX)"

# A Debian package of the same, in $(BUILD_DIR)/package/.
package: installable
	@scripts/quiet.sh $(LOGS)/package.log cpack --config $(BUILD_DIR)/CPackConfig.cmake
	@ls $(BUILD_DIR)/package/*.deb

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
