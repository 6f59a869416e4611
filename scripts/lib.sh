# Shared by the scripts.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Installs the packages of scripts/packages.txt that are missing (and nothing else).
install_packages() {
  local wanted missing=()
  wanted=$(grep -v '^\s*#' "$ROOT/scripts/packages.txt" | tr -s ' \n' ' ')
  for p in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "Debian packages: all $(wc -w <<<"$wanted") installed"
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Parallel jobs: NURA_JOBS, else every processor.
jobs() {
  echo "${NURA_JOBS:-$(nproc 2>/dev/null || echo 2)}"
}

# ccache as the compiler launcher when it is there.
launcher_args() {
  if command -v ccache >/dev/null; then
    echo "-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
  fi
}

# The Release build scripts/play runs the game from and scripts/test builds
# for the optimiser's warnings: one folder and one configuration, so that each
# reuses what the other built. Further arguments go to cmake.
RELEASE="$ROOT/build-release"
configure_release() {
  # shellcheck disable=SC2046
  cmake -S "$ROOT" -B "$RELEASE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNURA_TESTS=OFF \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON $(launcher_args) "$@"
}

# Configures and builds the fuzz targets with clang in build-fuzz/: the
# libraries they link (with the fuzzer's coverage, ASan and UBSan) and the
# targets. Further arguments go to cmake.
FUZZ_BUILD="$ROOT/build-fuzz"
build_fuzz() {
  # shellcheck disable=SC2046
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNURA_FUZZ=ON -DNURA_TESTS=OFF $(launcher_args) "$@"
  cmake --build "$FUZZ_BUILD" -j "$(jobs)" --target fuzz
}

# The fuzz targets: the names of fuzz/*.cpp.
fuzz_targets() {
  local f
  for f in "$ROOT"/fuzz/*.cpp; do
    f="${f##*/}"
    echo "${f%.cpp}"
  done
}
