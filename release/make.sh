#!/usr/bin/env bash
# The release archive of the sources at SRC, built from scratch in WORK and written
# to OUT/WDXPatchAgent-<version>.zip with OUT/SHA256SUMS; with --sign (the key named
# as release/sign.sh says) also OUT/signed/, the same archive with signed DLLs and
# its own SHA256SUMS. Every entry has the time EPOCH, so the same sources give the
# same bytes anywhere.
#   make.sh [--sign] SRC WORK OUT EPOCH
# The archive's files are listed in release/files.txt; the trees are the presets
# x86 and x64-dll of CMakePresets.json, built as ./wdx builds them.
set -euo pipefail
sign=0; [ "${1:-}" = --sign ] && { sign=1; shift; }
src=$1 work=$2 out=$3 epoch=$4
rel=$src/release version=$(head -n 1 "$src/VERSION")
name=WDXPatchAgent-$version
echo "== building release $version from scratch in $work" >&2
rm -rf "$work" "$out/signed"; mkdir -p "$work/gen" "$out"
"$rel/fresh_build.sh" "$src" "$work" x86 WDXPatchAgent WDXPatchAgentMsvcImport CGIResUTF8 SSO_PKIHelper
"$rel/fresh_build.sh" "$src" "$work" x64-dll WDXPatchAgent WDXPatchAgentMsvcImport
"$rel/readme.sh" "$src" "$work/x86/bin/WDXPatchAgent.dll" > "$work/gen/README.txt"
python3 "$rel/notices.py" > "$work/gen/THIRD_PARTY_NOTICES.txt"
python3 "$rel/stage.py" "$rel/files.txt" "$work/stage" x86="$work/x86" x64="$work/x64-dll" src="$src" stage="$work/gen"

pack() {  # stage dest: the bill of materials of the stage, then the archive
  python3 "$rel/sbom.py" "$1" "$version" "$epoch" > "$work/gen/sbom.json"
  mv "$work/gen/sbom.json" "$1/WDXPatchAgent.spdx.json"
  mkdir -p "$2"
  python3 "$rel/pack.py" "$2/$name.zip" "$epoch" "$name" "$1" > "$2/SHA256SUMS"
  (cd "$2" && sha256sum "$name.zip" >> SHA256SUMS)
}
pack "$work/stage" "$out"
[ "$sign" -eq 1 ] || exit 0

cp -a "$work/stage" "$work/signed"
rm "$work/signed/WDXPatchAgent.spdx.json"
mapfile -t signed < <(python3 "$rel/stage.py" "$rel/files.txt" --flag sign)
(cd "$work/signed" && "$rel/sign.sh" "$epoch" "${signed[@]}")
pack "$work/signed" "$out/signed"
