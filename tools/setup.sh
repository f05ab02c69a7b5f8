#!/usr/bin/env bash
# Installs what is missing for building and testing mopsel:
#   Debian packages (when running as root; otherwise prints the apt-get line and stops;
#   ISA-L's inflate is optional for a build, but the tests cover it and zlib both),
#   a few optional Debian packages (when running as root and available): ccache for cheap
#   rebuilds, fast_float for the test build of that decimal conversion,
#   the virtual environment .venv with the build, test and packaging requirements (NumPy 2.x).
# (The NumPy 1.x run makes its own fresh environment: tools/wheel_test.sh.)
# Safe to run again: it does nothing when everything is in place.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
APT_PACKAGES=(g++ make cmake zlib1g-dev libisal-dev libgtest-dev)
OPTIONAL_APT_PACKAGES=(ccache libfast-float-dev)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  if ! installed "$pkg"; then
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

optional=()
for pkg in "${OPTIONAL_APT_PACKAGES[@]}"; do
  # Only what this distribution offers, so that the attempt is not repeated on every run.
  installed "$pkg" || ! apt-cache show "$pkg" >/dev/null 2>&1 || optional+=("$pkg")
done
if ((${#optional[@]})) && [[ $(id -u) -eq 0 ]]; then
  echo "setup: installing optional Debian packages: ${optional[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${optional[@]}" >/dev/null ||
    echo "setup: optional packages not installed; builds go without them"
fi

make_venv() {  # make_venv DIR KEY PIP-ARGUMENT...   (KEY changes when the requirements do)
  local dir=$1 wanted=$2; shift 2
  local stamp="$dir/.mopsel-requirements"
  if [[ -x "$dir/bin/python" && -f "$stamp" && "$(cat "$stamp")" == "$wanted" ]]; then
    return
  fi
  echo "setup: preparing $dir (pip, then: $*)"
  "$PYTHON" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
  echo "$wanted" >"$stamp"
}

make_venv .venv "$(md5sum <requirements-dev.txt)" -r requirements-dev.txt

# Optional test peers and extras (HiGHS, SciPy); the tests that need them skip when these are missing.
optional_stamp=.venv/.mopsel-optional
optional_key="$(md5sum <requirements-test-optional.txt)"
if [[ ! -f "$optional_stamp" || "$(cat "$optional_stamp")" != "$optional_key" ]]; then
  echo "setup: installing the optional test peers (requirements-test-optional.txt)"
  if .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-test-optional.txt; then
    echo "$optional_key" >"$optional_stamp"
  else
    # One peer that does not install must not keep the others out: each on its own.
    echo "setup: installing the optional test peers one by one"
    while read -r requirement; do
      [[ -z "$requirement" || "$requirement" == \#* ]] && continue
      .venv/bin/python -m pip install -q --disable-pip-version-check "$requirement" ||
        echo "setup: $requirement not installable; the tests that need it will skip"
    done <requirements-test-optional.txt
  fi
fi
