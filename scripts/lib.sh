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

# The shared shader corpus, which the shader targets' fuzzing starts from:
# the shaders folder NURA_CORPUS_DIR names, else shared/corpus/shaders beside
# the checkout (or beside its worktree folder); empty when there is none.
shared_shaders() {
  if [ -n "${NURA_CORPUS_DIR+set}" ]; then
    if [ -d "$NURA_CORPUS_DIR" ]; then echo "$NURA_CORPUS_DIR"; fi
    return 0
  fi
  local up found=""
  for up in ../.. ..; do
    if [ -d "$ROOT/$up/shared/corpus/shaders" ]; then found="$ROOT/$up/shared/corpus/shaders"; fi
  done
  echo "$found"
}

# fuzz_target OUT TARGET SECONDS [FUZZER OPTIONS...]
# Fuzzes TARGET of the fuzz targets' folder OUT (build-fuzz/fuzz: fuzz_TARGET
# and seeds/TARGET) for SECONDS and prints its summary line: executions,
# coverage and findings, from libFuzzer's own lines. The corpus grows in
# OUT/corpus/TARGET, failing inputs land in OUT/artifacts/TARGET/ and the
# output in OUT/logs/TARGET.log. The target runs in OUT/run/TARGET, since
# the game's readers write their error log where they run. A target's
# dictionary is fuzz/TARGET.dict
# when there is one; the shader targets also start from the shared corpus,
# framed for them in OUT/shared/TARGET.
fuzz_target() {
  local out="$1" t="$2" seconds="$3"
  shift 3
  local corpus="$out/corpus/$t" artifacts="$out/artifacts/$t/" log="$out/logs/$t.log"
  mkdir -p "$corpus" "$artifacts" "$out/logs" "$out/run/$t"
  local corpora=("$corpus" "$out/seeds/$t") options=("$@") shaders
  [ -d "$ROOT/fuzz/regress/$t" ] && corpora+=("$ROOT/fuzz/regress/$t")
  [ -f "$ROOT/fuzz/$t.dict" ] && options+=(-dict="$ROOT/fuzz/$t.dict")
  shaders="$(shared_shaders)"
  if [[ "$t" == shader_* && -n "$shaders" ]]; then
    rm -rf "$out/shared/$t"
    /usr/bin/python3 "$ROOT/fuzz/make_seeds.py" --corpus "$shaders" "$out/shared/$t" "$t"
    if [ -d "$out/shared/$t" ]; then corpora+=("$out/shared/$t"); fi
  fi
  local start result=0 execs cov found
  start=$(date +%s)
  (cd "$out/run/$t" && "$out/fuzz_$t" -rss_limit_mb=2048 -timeout=10 -max_len=65536 -max_total_time="$seconds" \
    -runs=10000000 -print_final_stats=1 -artifact_prefix="$artifacts" "${options[@]}" "${corpora[@]}") >"$log" 2>&1 ||
    result=1
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  [ -n "$execs" ] || execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+' || true)
  found=$(find "$artifacts" -type f -newermt "@$start" | wc -l)
  echo "== $t: executions ${execs:-?}, cov ${cov:-?}, $(( $(date +%s) - start )) s, new findings $found, log $log"
  return $result
}
