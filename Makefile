# The two commands of the README. Both install missing Debian packages (as root), configure
# with CMake and Ninja, and build.
BUILD ?= build
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= type_table object_codec value_codec signature async_answer

.PHONY: demo test deps configure build bench install fuzz

demo: build
	cmake --build $(BUILD) --target run-examples

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2

# Installs headers, library, pkg-config file and CMake package under $(PREFIX); DESTDIR,
# when set, stages the whole tree below it.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: build
	for b in $(BUILD)/bench/*_bench; do $$b --benchmark_min_time=0.2; done

build: configure
	cmake --build $(BUILD)

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

deps:
	@./scripts/install-deps

# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for FUZZ_SECONDS seconds, from its seed corpus in fuzz/corpus/<target>.
# Inputs found to cover new paths collect in $(FUZZ_BUILD)/corpus-<target>.
fuzz: deps
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD)
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus-$$t && \
	  $(FUZZ_BUILD)/fuzz_$$t $(FUZZ_BUILD)/corpus-$$t fuzz/corpus/$$t \
	    -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/crash-$$t- || exit 1; \
	done
