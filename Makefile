# The two commands of the README. Both install missing Debian packages (as root), configure
# with CMake and Ninja, and build.
BUILD ?= build
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: demo test deps configure build bench install

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
