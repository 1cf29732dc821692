# Entry points for newcomers and CI. Every target installs what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps test-deps configure build test test-asan test-tsan test-farm fuzz demo bench clean install

# The sanitizer build: AddressSanitizer (with leak checking) and UndefinedBehaviorSanitizer, in a
# folder of its own. Any report fails the run. Leaks inside the GL driver stack are suppressed by
# tests/lsan.supp, which names only code of others (that stack and one OpenImageIO defect).
ASAN_DIR ?= build-asan
SANITIZER_ENV = \
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_init_order=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# ThreadSanitizer on the threading tests (render threads, thread exit, module unload), on demand:
# races inside Mesa's uninstrumented llvmpipe are suppressed (tests/tsan.supp), which also hides
# races in GL calls, so it checks our own shared state only. Not part of `make test`.
TSAN_DIR ?= build-tsan
TSAN_ENV = TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp"

all: build

# What the product needs, and what only the tests, benchmarks and fuzzers need on top.
deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps --test

# Configured once with whatever is installed; `configure` then insists on the test programs,
# so a tree first configured by `make demo` (product packages only) gains them.
# Line tables only: backtraces and profiles keep their file and line, and the build takes a third
# less time than with full debug information.
RELEASE_FLAGS = -O2 -g1 -DNDEBUG

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$(RELEASE_FLAGS)" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$(RELEASE_FLAGS)"

configure: test-deps $(BUILD_DIR)/CMakeCache.txt
	@cmake -S . -B $(BUILD_DIR) -DVARNEX_TESTS=ON >/dev/null

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-asan

# The libFuzzer targets alone, built and run for their bounded time.
fuzz: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target varnex_fuzzers
	ctest --test-dir $(BUILD_DIR) --output-on-failure -R '^fuzz_'

$(ASAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_SANITIZE=address,undefined \
	  -DVARNEX_TESTS=ON -DVARNEX_BENCH_PROGRAM=OFF

# Test discovery runs the test programs while building, so they see the same options.
test-asan: test-deps $(ASAN_DIR)/CMakeCache.txt
	$(SANITIZER_ENV) cmake --build $(ASAN_DIR) -j $(JOBS)
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

$(TSAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_SANITIZE=thread -DVARNEX_TESTS=ON \
	  "-DVARNEX_TEST_AREAS=reliability;render;cgl"

test-tsan: test-deps $(TSAN_DIR)/CMakeCache.txt
	$(TSAN_ENV) cmake --build $(TSAN_DIR) -j $(JOBS) --target test_reliability test_render test_cgl
	$(TSAN_ENV) $(TSAN_DIR)/bin/test_reliability --gtest_filter='StressTest.*:ModuleLifetimeTest.*'
	$(TSAN_ENV) $(TSAN_DIR)/bin/test_render
	$(TSAN_ENV) $(TSAN_DIR)/bin/test_cgl

# varnex submit on a single-node Slurm cluster that each test starts and stops itself (munge,
# slurmctld, slurmd on the loopback address), in a folder of its own. Installs Slurm and munge
# when missing; not part of `make test`.
FARM_DIR ?= build-farm

test-farm:
	@scripts/install-deps --test --farm
	cmake -S . -B $(FARM_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_TESTS=ON -DVARNEX_FARM_TESTS=ON
	cmake --build $(FARM_DIR) -j $(JOBS) --target test_farm
	ctest --test-dir $(FARM_DIR) -L farm --output-on-failure

# The command and the module only: no test program, benchmark or fuzzer.
demo: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target varnex varnex-effect
	@scripts/demo $(BUILD_DIR)

# BENCH_ARGS passes options through, e.g. make bench BENCH_ARGS=--quick (see varnex-bench --help).
# Builds only the benchmark and what it drives (the module and the command), not the tests.
bench: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target varnex-bench
	$(BUILD_DIR)/bin/varnex-bench $(BENCH_ARGS)

# The frei0r plug-ins and their Kdenlive descriptions into PREFIX (lib/frei0r-1/, share/kdenlive/).
PREFIX ?= /usr/local
install: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target varnex_frei0r varnex_map_frei0r varnex_kdenlive_xml
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FARM_DIR)
