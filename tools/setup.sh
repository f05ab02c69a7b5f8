#!/usr/bin/env bash
# Installs what is missing for building and testing mopsel:
#   Debian packages (when running as root; otherwise prints the apt-get line and stops),
#   the virtual environment .venv with the build and test requirements (NumPy 2.x),
#   the virtual environment .venv-numpy1 with NumPy 1.x for the compatibility run.
# Safe to run again: it does nothing when everything is in place.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
APT_PACKAGES=(g++ make cmake libfast-float-dev zlib1g-dev libgtest-dev)

missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    # cmake may come from elsewhere (pip); only ask for the package when the command is absent.
    if [[ "$pkg" == cmake ]] && command -v cmake >/dev/null; then continue; fi
    missing+=("$pkg")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -eq 0 ]]; then
    echo "setup: installing Debian packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  else
    echo "setup: missing Debian packages. Run:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
fi

make_venv() {  # make_venv DIR KEY PIP-ARGUMENT...   (KEY changes when the requirements do)
  local dir=$1 wanted=$2; shift 2
  local stamp="$dir/.mopsel-requirements"
  if [[ -x "$dir/bin/python" && -f "$stamp" && "$(cat "$stamp")" == "$wanted" ]]; then
    return
  fi
  echo "setup: preparing $dir"
  "$PYTHON" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
  echo "$wanted" >"$stamp"
}

make_venv .venv "$(md5sum <requirements-dev.txt)" -r requirements-dev.txt
make_venv .venv-numpy1 "numpy>=1.21,<2 pytest>=7" "numpy>=1.21,<2" "pytest>=7"

# Optional test peers and extras (HiGHS, SciPy); the tests that need them skip when these are missing.
optional_stamp=.venv/.mopsel-optional
optional_key="$(md5sum <requirements-test-optional.txt)"
if [[ ! -f "$optional_stamp" || "$(cat "$optional_stamp")" != "$optional_key" ]]; then
  if .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-test-optional.txt; then
    echo "$optional_key" >"$optional_stamp"
  else
    echo "setup: optional test peers not installable; the tests that need them will skip"
  fi
fi
