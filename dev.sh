#!/usr/bin/env bash
# The project's one entry point: installs what is missing, builds, tests, demos.
#   ./dev.sh test            build the default and asan presets, run every test in both
#   ./dev.sh demo            run the uninstaller on a throwaway fake installation
#   ./dev.sh build [PRESET]  configure and build one preset (default: default)
#   ./dev.sh bench           build the release preset and run the benchmarks
#   ./dev.sh fuzz NAME SECS  build the clang fuzz preset and run fuzz/NAME_fuzz.cpp
#   ./dev.sh lint            clang-tidy (.clang-tidy) over the product's sources
#   ./dev.sh mutate [COUNT] [SEED]  COUNT mutants (30) of the product drawn with SEED (1), scored killed/built
#   ./dev.sh lines           lines of code of the product and of tests/, and their ratio
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

# Everything a new Debian 12 machine needs to build and test the project.
PACKAGES=(
  cmake ninja-build g++ clang pkg-config ccache
  libicu-dev libplist-dev libgtest-dev libgmock-dev libbenchmark-dev
  gettext procps util-linux psmisc socat sudo e2fsprogs
  xvfb xauth xdotool libx11-dev zenity kdialog dbus polkitd pkexec
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=() pkg
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "dev.sh: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Compiler cache shared by every checkout of the project on this machine: paths
# below the repository are hashed relative to it, so a fresh clone hits too.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

build() {
  local preset=$1
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake --preset "$preset" "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset"
}

cmd_test() {
  ensure_packages
  local status=0 preset
  for preset in default asan; do
    echo "== $preset: build"
    build "$preset"
    echo "== $preset: test"
    ctest --preset "$preset" || status=1
  done
  return $status
}

cmd_demo() {
  ensure_packages
  build default
  if [ ! -x build/bin/orvik-uninstaller ] || [ ! -x tools/demo.sh ]; then
    echo "dev.sh demo: the uninstaller is not built yet; there is nothing to demonstrate." >&2
    return 1
  fi
  tools/demo.sh build/bin/orvik-uninstaller
}

cmd_bench() {
  ensure_packages
  build release
  local b
  for b in build-release/bin/*_bench; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b"
  done
  for b in bench/*.sh; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b" build-release
  done
}

cmd_fuzz() {
  local name=${1:?usage: ./dev.sh fuzz NAME SECONDS} seconds=${2:-60}
  ensure_packages
  build fuzz
  local corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  "build-fuzz/bin/${name}_fuzz" -max_total_time="$seconds" "$corpus"
}

# The product's sources only: tests, benchmarks and fuzz targets follow their
# own frameworks' habits.
cmd_lint() {
  ensure_packages
  build default
  local sources
  mapfile -t sources < <(find platform strings win32compat resources paths uninstaller \
    -name '*.cpp' | sort)
  printf '%s\n' "${sources[@]}" |
    xargs -P 2 -n 4 clang-tidy -p build --quiet 2>/dev/null |
    tee build/lint.txt | grep -E 'warning:|error:' && { echo "dev.sh lint: see above" >&2; return 1; }
  echo "dev.sh lint: ${#sources[@]} files, clean"
}

# Plants small faults in a private copy of the committed tree, one at a time,
# and tells how many the tests notice (tools/mutate.py --help).
cmd_mutate() {
  ensure_packages
  python3 tools/mutate.py --count "${1:-30}" --seed "${2:-1}" "${@:3}"
}

# Lines of code: neither blank nor only a // comment. tests/ counts whole, its
# support files, scripts and the end-to-end harness included.
count_lines() {
  find "$@" \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) -print0 | xargs -0 cat |
    grep -v '^\s*$' | grep -cv '^\s*//'
}

cmd_lines() {
  local product tests
  product=$(count_lines platform strings win32compat resources paths uninstaller)
  tests=$(count_lines tests)
  echo "product $product, tests $tests: tests are $(awk -v t="$tests" -v p="$product" \
    'BEGIN { printf "%.1f", 100 * t / p }')% of the product (at most 35%)"
}

case "${1:-}" in
  test) cmd_test ;;
  demo) cmd_demo ;;
  build) ensure_packages; build "${2:-default}" ;;
  bench) cmd_bench ;;
  fuzz) shift; cmd_fuzz "$@" ;;
  lint) cmd_lint ;;
  mutate) shift; cmd_mutate "$@" ;;
  lines) cmd_lines ;;
  *) sed -n '2,10p' "$0"; exit 2 ;;
esac
