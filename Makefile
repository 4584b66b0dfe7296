# One-command entry points. Every target installs what it needs first
# (scripts/setup.sh, as root on Debian 12) and builds out of tree.
#
#   make test        setup, configure, build, run the test suite (g++, -Werror)
#   make sanitize    the same suite under AddressSanitizer + UBSan (clang)
#   make examples    run oxpm on the bundled examples
#   make embed-example  build examples/embed against an installed prefix
#                    (static, then shared) and check its output
#   make tsan        the thread stress test and the reference host's tests
#                    under ThreadSanitizer (clang)
#   make fuzz-smoke  build the libFuzzer targets and run each for
#                    FUZZ_SECONDS (default 30); see docs/hardening.md
#   make bench       build the benchmarks, run the suites and the end-to-end
#                    comparison with testsolv (see bench/README.md)
#   make format      clang-format every source in place

BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
TSAN_DIR       ?= build-tsan
FUZZ_DIR       ?= build-fuzz
FUZZ_SECONDS   ?= 30
BENCH_DIR      ?= build-bench
JOBS           ?= $(shell nproc)
CMAKE_FLAGS    ?=
CTEST_FLAGS    ?= --output-on-failure -j $(JOBS)

SOURCES = $(shell git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null)

# The bundled examples: a catalog for two platforms, the software
# installed on a linux-x64 machine, and requests; then a Debian machine's
# dpkg status with hundreds of packages, and a request for it. Some requests
# fail on purpose (exit status 1); only a status of 2 or more fails the
# target.
OXPM          = $(BUILD_DIR)/tools/oxpm
EXAMPLE_FLAGS = --spec examples/halden-spec.xml --platform linux-x64 \
                --installed examples/inventory.json
DEBIAN_FLAGS  = --spec examples/halden-spec.xml --platform linux-x64 \
                --dpkg-status examples/debian/status \
                --request examples/debian/upgrade-suite.json

.PHONY: all setup configure build test sanitize tsan fuzz-smoke examples embed-example bench format format-check clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DOX_WERROR=ON -DOX_BUILD_BENCH=ON \
	  $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest $(CTEST_FLAGS)

sanitize: setup
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DOX_WERROR=ON \
	  -DOX_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && \
	  ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest $(CTEST_FLAGS)

# The tests whose subject is threads: independent sets of managers at once
# over one reference host, and the host's shared state (regex cache, store
# sources). The rest of the suite is single-threaded and runs in `sanitize`.
TSAN_TESTS = threads_test refhost_regex_test refhost_store_test refhost_logger_test

tsan: setup
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DOX_WERROR=ON \
	  -DOX_SANITIZE=thread -DOX_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest $(CTEST_FLAGS) -R '^(ThreadsTest|RefhostRegexTest|RefhostStoreTest|RefhostLoggerTest)\.'

fuzz-smoke: setup
	FUZZ_BUILD_DIR=$(FUZZ_DIR) FUZZ_BUILD_JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

examples: build
	@status=0; \
	for request in examples/requests/*.json; do \
	  echo "\$$ $(OXPM) resolve $(EXAMPLE_FLAGS) --request $$request"; \
	  $(OXPM) resolve $(EXAMPLE_FLAGS) --request $$request; \
	  code=$$?; \
	  echo "(exit status $$code)"; echo; \
	  if [ $$code -ge 2 ]; then status=1; fi; \
	done; \
	echo "\$$ $(OXPM) resolve $(DEBIAN_FLAGS)"; \
	$(OXPM) resolve $(DEBIAN_FLAGS); \
	code=$$?; \
	echo "(exit status $$code)"; \
	if [ $$code -ge 2 ]; then status=1; fi; \
	exit $$status

# The embedding example, built as a host agent's build would: against the
# installed build with find_package(tarvik_ox CONFIG), and with pkg-config.
embed-example: build
	bash examples/embed/run.sh $(BUILD_DIR)
	bash examples/embed/run.sh --shared

BENCH_SUITES = ox_bench_version ox_bench_import ox_bench_lookup ox_bench_resolve

bench: setup
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOX_BUILD_BENCH=ON -DOX_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target ox_bench_gen oxpm $(BENCH_SUITES)
	for suite in $(BENCH_SUITES); do \
	  $(BENCH_DIR)/bench/$$suite --benchmark_repetitions=5 \
	    --benchmark_report_aggregates_only=true || exit 1; \
	done
	RUNS=20 ROUNDS=5 bash bench/run_e2e.sh $(BENCH_DIR) small large

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(BENCH_DIR)
