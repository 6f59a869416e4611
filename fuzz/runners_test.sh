#!/usr/bin/env bash
# fuzz/runners_test.sh SOURCE OUT
# The two runners of the fuzz targets of OUT (this build's fuzz folder):
# scripts/fuzz's run of a target leaves the folder it was started from as it
# was (the table target writes an error log where it runs), and scripts/fuzz
# and the bounded runs both frame the shader corpus that NURA_CORPUS_DIR
# names, wherever it lies. Nothing of the build's own fuzzing state is used.
source "$1/scripts/lib.sh"
fail() {
  echo "FAILED: $*"
  exit 1
}
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/out" "$tmp/start" "$tmp/elsewhere/shaders" "$tmp/lone/checkout"
for t in csv shader_preprocess; do ln -s "$2/fuzz_$t" "$tmp/out/fuzz_$t"; done
ln -s "$2/seeds" "$tmp/out/seeds"

cd "$tmp/start"
fuzz_target "$tmp/out" csv 1 || fail "the run of csv failed: $(cat "$tmp/out/logs/csv.log")"
left="$(ls -A)"
[ -z "$left" ] || fail "the run of csv left in the folder it was started from: $left"

# A corpus of one shader away from the checkout, and a checkout with no
# corpus beside it.
printf 'float4 main(float4 c : COLOR0) : COLOR0 { return c; }\n' >"$tmp/elsewhere/shaders/one.hlsl"
export CI=true NURA_CORPUS_DIR="$tmp/elsewhere/shaders"
fuzz_target "$tmp/out" shader_preprocess 1 >/dev/null || fail "the run of shader_preprocess failed"
framed="$(ls -A "$tmp/out/shared/shader_preprocess" 2>/dev/null || true)"
[ "$framed" = one.hlsl ] || fail "scripts/fuzz framed '$framed' instead of the corpus NURA_CORPUS_DIR names"
cmake -DFUZZER="$tmp/out/fuzz_shader_preprocess" -DRUNS=10 -DWORK="$tmp/bounded" \
  -DSEEDS="$tmp/out/seeds/shader_preprocess" -DREGRESS="$1/fuzz/regress/shader_preprocess" \
  -DPYTHON=/usr/bin/python3 -DFRAMER="$1/fuzz/make_seeds.py" -DSOURCE="$tmp/lone/checkout" \
  -DTARGET=shader_preprocess -P "$1/fuzz/bounded_run.cmake" >"$tmp/bounded.log" 2>&1 ||
  fail "the bounded run failed: $(cat "$tmp/bounded.log")"
grep -q " 1 files found in $tmp/bounded/shared\$" "$tmp/bounded.log" ||
  fail "the bounded run did not frame the corpus NURA_CORPUS_DIR names: $(cat "$tmp/bounded.log")"
echo "both runners passed"
