#!/usr/bin/env bash
# Installs a built wheel the way a user would and runs the Python suite against it:
#   tools/wheel_test.sh WHEEL [NUMPY-REQUIREMENT]
# The virtual environment (build/venv-wheel, made afresh) holds only NumPy (default: 1.x, the
# oldest the wheel supports), pytest and pip, all as binary wheels; mopsel comes from WHEEL
# alone (no index). The suite then runs with a PATH that holds only that environment, so no
# compiler, CMake or make can be reached, and the suite checks that every file of the package
# it imports is the wheel's. WHEEL_TEST_PYTHON picks the interpreter (default python3).
set -euo pipefail
cd "$(dirname "$0")/.."

wheel=$(realpath "${1:?usage: tools/wheel_test.sh WHEEL [NUMPY-REQUIREMENT]}")
numpy=${2:-numpy>=1.21,<2}
python=${WHEEL_TEST_PYTHON:-python3}
venv=$PWD/build/venv-wheel

echo "wheel-test: $(basename "$wheel") into a fresh environment with $numpy ($("$python" --version))"
rm -rf "$venv"
"$python" -m venv "$venv"
pip=("$venv/bin/python" -m pip --disable-pip-version-check)
"${pip[@]}" install -q --only-binary=:all: "$numpy" "pytest>=7"
# Older interpreters seed setuptools into every environment; it is not wanted here.
"${pip[@]}" uninstall -q -y setuptools wheel 2>/dev/null || true
"${pip[@]}" install -q --no-index --only-binary=:all: "$wheel"

# NumPy, pytest with what it pulls in on this Python, pip and mopsel: nothing that builds.
allowed=" mopsel numpy pip pytest iniconfig packaging pluggy pygments exceptiongroup tomli typing-extensions "
for package in $("${pip[@]}" list --format=freeze 2>/dev/null | cut -d= -f1 | tr '[:upper:]_' '[:lower:]-'); do
  if [[ "$allowed" != *" $package "* ]]; then
    echo "wheel-test: the environment holds $package, which is neither NumPy nor a part of pytest" >&2
    exit 1
  fi
done

isolated_path="$venv/bin"
for tool in cc c++ gcc g++ clang clang++ cmake make ninja; do
  if PATH=$isolated_path command -v "$tool" >/dev/null; then
    echo "wheel-test: $tool is reachable from the test environment" >&2
    exit 1
  fi
done

# pytest is started as a program (not `python -m pytest`), so the source tree's mopsel/
# is not on sys.path; test_api_module checks the imported files against the wheel.
env -i PATH="$isolated_path" HOME="$HOME" LANG=C.UTF-8 MOPSEL_TEST_WHEEL="$wheel" \
  "$venv/bin/pytest" -q -p no:cacheprovider tests/python -m "not highs and not stress and not slow"
