# The two commands for a new user: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: run test build deps clean bench package screenshot test-asan test-tsan fuzz soak

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -Wno-dev >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE soak

# The same suite built with AddressSanitizer and UBSan: any overflow, leak
# or undefined behaviour fails the test it happens in.
ASAN_BUILD ?= build-asan
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DZV_SANITIZE=ON -Wno-dev >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -LE soak

# The same suite built with ThreadSanitizer: any data race between the
# window's thread and the slots' threads fails the test it happens in. Qt and
# GLib are not built for it: tests/tsan.supp says what that means and what is
# ignored. die_after_fork=0: tests start nginx and tinyproxy with QProcess
# from a process that already has threads. setarch -R: the runtime cannot
# map its shadow memory under a randomized layout.
TSAN_BUILD ?= build-tsan
TSAN_OPTS = suppressions=$(CURDIR)/tests/tsan.supp die_after_fork=0 \
  ignore_noninstrumented_modules=1
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -DZV_TSAN=ON -Wno-dev >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	@cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	  TSAN_OPTIONS="$(TSAN_OPTS)" \
	  setarch $$(uname -m) -R ctest --output-on-failure -j $(JOBS) -LE soak

# Both slots downloading for ZV_SOAK_SECONDS (600) against a trickling server.
soak: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -V -L soak

# Runs every libFuzzer target for FUZZ_SECONDS; new inputs stay in the build
# folder, crashes land in tests/fuzz/corpus/<target>/ and so are replayed by
# `make test` from then on.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Measures downloads against curl, wget and aria2c; ZV_BENCH_ROUNDS=2 for a quick look.
BENCH_BUILD ?= build-bench
bench: deps
	@bash scripts/install-deps.sh curl wget aria2 time
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
