# One-command entry points. Every target installs what it needs first
# (scripts/setup.sh, as root on Debian 12) and builds out of tree.
#
#   make test        setup, configure, build, run the test suite (g++, -Werror)
#   make sanitize    the same suite under AddressSanitizer + UBSan (clang)
#   make examples    run oxpm on the bundled examples
#   make format      clang-format every source in place

BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
JOBS           ?= $(shell nproc)
CMAKE_FLAGS    ?=
CTEST_FLAGS    ?= --output-on-failure -j $(JOBS)

SOURCES = $(shell git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null)

# The bundled examples: a specification for two platforms, the software
# installed on a linux-x64 machine, and requests. Some requests fail on
# purpose (exit status 1); only a status of 2 or more fails the target.
OXPM          = $(BUILD_DIR)/tools/oxpm
EXAMPLE_FLAGS = --spec examples/halden-spec.xml --platform linux-x64 \
                --installed examples/inventory.json

.PHONY: all setup configure build test sanitize examples format format-check clean

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

examples: build
	@status=0; \
	for request in examples/requests/*.json; do \
	  echo "\$$ $(OXPM) resolve $(EXAMPLE_FLAGS) --request $$request"; \
	  $(OXPM) resolve $(EXAMPLE_FLAGS) --request $$request; \
	  code=$$?; \
	  echo "(exit status $$code)"; echo; \
	  if [ $$code -ge 2 ]; then status=1; fi; \
	done; \
	exit $$status

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
