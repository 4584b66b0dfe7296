# One-command entry points. Every target installs what it needs first
# (scripts/setup.sh, as root on Debian 12) and builds out of tree.
#
#   make test        setup, configure, build, run the test suite (g++, -Werror)
#   make sanitize    the same suite under AddressSanitizer + UBSan (clang)
#   make examples    build the oxpm tool alone and run it on the bundled examples
#   make library     the library alone, with no dependency beyond the compiler
#                    (no reference host, tool or tests)
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
LIBRARY_DIR    ?= build-library
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

.PHONY: all setup configure build test sanitize tsan fuzz-smoke examples library embed-example bench format format-check clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DOX_WERROR=ON $(CMAKE_FLAGS)

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

# The tests whose subject is threads (listed in tests/CMakeLists.txt, built by
# the target ox_thread_tests and labelled "threads").
tsan: setup
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DOX_WERROR=ON \
	  -DOX_SANITIZE=thread -DOX_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target ox_thread_tests
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest $(CTEST_FLAGS) -L '^threads$$'

fuzz-smoke: setup
	FUZZ_BUILD_DIR=$(FUZZ_DIR) FUZZ_BUILD_JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

# Only the tool (and what it links): no tests, no benchmarks.
examples: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target oxpm
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

# No setup: CMake is told not to look for the dependencies of the reference
# host, the tool and the tests, so that configuring fails if the library alone
# ever needs one of them.
LIBRARY_ONLY_FLAGS = -DOX_BUILD_REFHOST=OFF \
  $(foreach package,PkgConfig pugixml nlohmann_json CLI11 GTest benchmark,\
    -DCMAKE_DISABLE_FIND_PACKAGE_$(package)=ON)

library:
	cmake -S . -B $(LIBRARY_DIR) -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOX_WERROR=ON $(LIBRARY_ONLY_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(LIBRARY_DIR) -j $(JOBS)

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

format: setup
	clang-format -i $(SOURCES)

format-check: setup
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(BENCH_DIR) $(LIBRARY_DIR)
