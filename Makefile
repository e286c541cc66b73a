# The two commands for a new user: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: run test build deps clean bench package screenshot

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -Wno-dev >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Measures downloads against curl, wget and aria2c; ZV_BENCH_ROUNDS=2 for a quick look.
BENCH_BUILD ?= build-bench
bench: deps
	@bash scripts/install-bench-deps.sh
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -Wno-dev >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target zvbench
	@python3 bench/run.py $(BENCH_BUILD)/bench/zvbench bench/README.md

# The Debian package, zipvane_<version>_<arch>.deb in the build folder.
package: build
	@cd $(BUILD) && cpack

# Refreshes the README's picture of the main window with a download running.
screenshot: build
	@bash scripts/screenshot.sh $(BUILD)/zipvane docs/screenshot.png

clean:
	rm -rf $(BUILD)
