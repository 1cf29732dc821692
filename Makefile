# Entry points for newcomers and CI. Every target installs what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD_DIR)

bench: build
	@if [ -x $(BUILD_DIR)/bin/varnex-bench ]; then $(BUILD_DIR)/bin/varnex-bench; else echo "no benchmark built yet"; fi

clean:
	rm -rf $(BUILD_DIR)
