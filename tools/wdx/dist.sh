# Sourced: the release archive and the shipped DLL's reproducibility check.

# The files a build reads (tracked and new ones, no build folder), copied to $1
# for a second build from another place.
copy_sources() {  # dest
  mkdir -p "$1"
  if git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$ROOT" && git ls-files -co --exclude-standard | while IFS= read -r f; do [ -e "$f" ] && printf '%s\n' "$f"; done) |
      tar -C "$ROOT" -T - -cf - | tar -C "$1" -xf -
  else
    tar -C "$ROOT" --exclude=./build --exclude='./build-*' --exclude=./dist -cf - . | tar -C "$1" -xf -
  fi
}

# The time of the last commit that changed what goes into the release (not the
# README or the tests): every archive entry gets it, so other commits leave the
# archive's bytes alone.
release_epoch() {
  git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1 || { echo 0; return; }
  git -C "$ROOT" log -1 --format=%ct -- VERSION LICENSE CHANGELOG.md CMakeLists.txt CMakePresets.json cmake src include release \
    samples
}

# The release archive (release/make.sh; its files in release/files.txt). --sign adds
# the signed one (release/sign.sh names the key's variables); --check builds the
# archive again from a copy of the sources elsewhere, compares the bytes, and checks
# the unpacked archive (release/check.sh) with a page built from it alone.
dist() {  # [--check] [--sign]
  local check=0 sign=() epoch arch=x64 run=$WINE zip a
  for a; do case $a in --check) check=1 ;; --sign) sign=(--sign) ;; *) log "dist: unknown option $a"; exit 2 ;; esac; done
  setup
  epoch=$(release_epoch) zip=$ROOT/dist/WDXPatchAgent-$VERSION.zip
  "$ROOT/release/make.sh" "${sign[@]}" "$ROOT" "$BUILD/release" "$ROOT/dist" "$epoch"
  [ "$check" -eq 1 ] || { log "wrote $zip${sign:+ and dist/signed/}"; return 0; }
  local other=$BUILD/release-check
  rm -rf "$other"; copy_sources "$other/src"
  "$ROOT/release/make.sh" "$other/src" "$other/work" "$other/dist" "$epoch"
  if ! cmp "$zip" "$other/dist/$(basename "$zip")"; then
    log "the two builds differ:"; diff "$ROOT/dist/SHA256SUMS" "$other/dist/SHA256SUMS" >&2 || true
    return 1
  fi
  kernel_runs_i386 && [ -x "$WINE32" ] && arch=x86 run=$WINE32
  ensure_prefix
  "$ROOT/release/check.sh" "$zip" "$arch" "$run"
  [ "${#sign[@]}" -eq 0 ] || "$ROOT/release/check.sh" "$ROOT/dist/signed/$(basename "$zip")" "$arch" "$run"
  rm -rf "$other"
  log "wrote $zip: built twice in two folders, the same bytes; its files as listed; a page built from it alone runs"
}

# The shipped DLL, its debug file and its PDB again, from a copy of the sources
# built in $2 (the x86 preset, as the release builds it): any difference to $1 (a
# time stamp, a machine path) fails.
reproduce() {  # dll work
  local dll=$1 work=$2 f
  setup
  rm -rf "$work"; copy_sources "$work/src"
  "$ROOT/release/fresh_build.sh" "$work/src" "$work" x86 WDXPatchAgent
  for f in "$dll" "$dll.debug" "${dll%.dll}.pdb"; do
    cmp "$f" "$work/x86/bin/$(basename "$f")" || { log "$(basename "$f") differs from a second build elsewhere"; return 1; }
  done
  rm -rf "$work"
  echo "the same bytes from a second build elsewhere: $(basename "$dll"), its debug file and its PDB"
}
