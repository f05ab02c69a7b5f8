# `make test` and `make demo` do all set-up on a fresh machine (see tools/setup.sh).
VENV       := .venv
VENV_NP1   := .venv-numpy1
JOBS       ?= 2
WHEEL_DIR  := build/wheel

.PHONY: all setup build cpp-test asan-test lto-check py-test py-test-numpy1 slow-test test demo bench bench-from-arrays fuzz-smoke clean

all: build

setup:
	@tools/setup.sh

# Builds the abi3 wheel once and installs it into both virtual environments. Warnings in
# the project's own code are errors here and in the C++ builds below, though not in a
# plain `pip install .`, which must not fail on a user's newer compiler.
build: setup
	@rm -rf $(WHEEL_DIR)
	$(VENV)/bin/python -m pip wheel -q --no-build-isolation --no-deps -w $(WHEEL_DIR) \
	  --config-settings=cmake.define.MOPSEL_WERROR=ON .
	$(VENV)/bin/python -m pip install -q --no-deps --force-reinstall $(WHEEL_DIR)/mopsel-*.whl
	$(VENV_NP1)/bin/python -m pip install -q --no-deps --force-reinstall $(WHEEL_DIR)/mopsel-*.whl

# The core and its GoogleTest suite, without Python.
cpp-test: setup
	cmake -S . -B build/cpp -DMOPSEL_TESTS=ON -DMOPSEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build/cpp -j$(JOBS)
	ctest --test-dir build/cpp --output-on-failure -j$(JOBS)

# The same suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: setup
	cmake -S . -B build/asan -DMOPSEL_TESTS=ON -DMOPSEL_SANITIZE=ON -DMOPSEL_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)

# The whole core linked once with link-time optimisation, which turns two different
# definitions of one name (a One Definition Rule violation) into a link error; the
# profiling drivers are built with it, so that they keep compiling.
lto-check: setup
	cmake -S . -B build/lto -DMOPSEL_LTO_CHECK=ON -DMOPSEL_BENCH=ON -DMOPSEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build/lto -j$(JOBS)

py-test: build
	$(VENV)/bin/pytest -q tests/python -m "not slow"

# The long runs: optimal objectives through SciPy and HiGHS against HiGHS on the files (a few minutes).
slow-test: build
	$(VENV)/bin/pytest -q tests/python -m slow

# The installed wheel again under NumPy 1.x (the extension is built against NumPy 2 headers).
py-test-numpy1: build
	$(VENV_NP1)/bin/pytest -q tests/python -m "not highs and not stress and not slow"

test: cpp-test asan-test lto-check py-test py-test-numpy1

demo: build
	$(VENV)/bin/python examples/demo.py examples/demo.mps

# Benchmarks against other MPS readers (bench/README.md). BENCH_ARGS is passed to run_bench.py,
# e.g. `make bench BENCH_ARGS=--quick`; the generated large models are cached outside the tree.
BENCH_ARGS ?=
bench: build
	@bench/setup.sh
	$(if $(findstring --quick,$(BENCH_ARGS)),,$(VENV)/bin/python bench/make_big.py)
	$(VENV)/bin/python bench/run_bench.py $(BENCH_ARGS)

# mopsel.from_arrays on 1,000,000 columns and 10,000,000 entries (target: under 0.5 s).
bench-from-arrays: build
	$(VENV)/bin/python bench/bench_from_arrays.py

# Each libFuzzer target for 60 s under ASan+UBSan (clang; build/fuzz, build/fuzz-corpus).
fuzz-smoke:
	fuzz/run_fuzzers.sh 60

clean:
	rm -rf build
