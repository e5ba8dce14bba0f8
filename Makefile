# make run: set up, build and start orvik.  make test: set up, build, run every test (also under ASan/UBSan,
# and once more built with clang).
JOBS    ?= $(shell nproc)
WERROR  := $(if $(CI),ON,OFF)
RELEASE := build/release
ASAN    := build/asan
CLANG   := build/clang
FUZZ    := build/fuzz
CMAKE_FLAGS := -G Ninja -DORVIK_WERROR=$(WERROR)

.PHONY: all deps build build-asan build-clang build-fuzz run test test-release test-asan test-clang fuzz fuzz-smoke bench clean

all: build

deps:
	@./scripts/deps.sh

build: deps
	@cmake -S . -B $(RELEASE) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON -DORVIK_BENCH=OFF >/dev/null
	@cmake --build $(ASAN) -j $(JOBS)

build-clang: deps
	@cmake -S . -B $(CLANG) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(CLANG) -j $(JOBS)

build-fuzz: deps
	@cmake -S . -B $(FUZZ) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS)

run: build
	@exec $(RELEASE)/cli/orvik

test-release: build
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS) -LE e2e

test-clang: build-clang
	ctest --test-dir $(CLANG) --output-on-failure -j $(JOBS) -LE e2e

fuzz-smoke: build-fuzz
	@./scripts/fuzz.sh $(FUZZ) 20

fuzz: build-fuzz
	@./scripts/fuzz.sh $(FUZZ) $(or $(SECONDS),300)

test: test-release test-asan test-clang fuzz-smoke

bench: build
	@./scripts/bench.sh $(RELEASE)

clean:
	rm -rf build
