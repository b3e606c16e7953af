# Sourced: ./wdx lint. clang-format's check (.clang-format) over our own sources,
# and clang-tidy (.clang-tidy) over the library's units, read for the 64-bit
# mingw-w64 target with the x64 tree's compile commands. Known false positives
# carry a NOLINT line.

# clang reads the sources with GCC's own C++ library headers: the folder the
# mingw-w64 compiler names, whatever its version.
mingw_cxx_include() {
  local dir
  dir=$(x86_64-w64-mingw32-g++-posix -print-file-name=include/c++)
  [ -d "$dir" ] || { log "lint: x86_64-w64-mingw32-g++-posix names no C++ header folder ($dir)"; return 1; }
  echo "$dir"
}

lint() {
  setup
  if ! command -v clang-format >/dev/null || ! command -v clang-tidy >/dev/null; then
    log "installing clang-format and clang-tidy"
    apt_update
    apt_install clang-format clang-tidy || exit 1
  fi
  local rc=0 files cxx_include
  cxx_include=$(mingw_cxx_include) || exit 1
  mapfile -t files < <(cd "$ROOT" && git ls-files '*.cpp' '*.h')
  local unformatted=() f
  for f in "${files[@]}"; do clang-format "$ROOT/$f" | cmp -s - "$ROOT/$f" || unformatted+=("$f"); done
  if [ "${#unformatted[@]}" -gt 0 ]; then
    log "clang-format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format (clang-format -i FILE mends one):"
    printf '  %s\n' "${unformatted[@]}" >&2
    rc=1
  else
    log "clang-format: ${#files[@]} files as .clang-format lays them out"
  fi
  mkdir -p "$BUILD/lint"
  configure x64
  # A tree configured before the sources' CMake files changed is brought up to date
  # first, so the compile commands (and configure-time headers) are current.
  ninja -C "$BUILD/x64" build.ninja >/dev/null
  local units
  mapfile -t units < <(ninja -C "$BUILD/x64" -t compdb | python3 "$ROOT/tools/wdx/lint_units.py" "$ROOT" "$BUILD/lint")
  log "clang-tidy: ${#units[@]} units of src/ and the console's C++ layer ($(nproc) at a time)"
  printf '%s\n' "${units[@]}" |
    xargs -P "$(nproc)" -n 1 clang-tidy -p "$BUILD/lint" --quiet \
      --extra-arg-before=--target=x86_64-w64-mingw32 \
      --extra-arg=-isystem"$cxx_include" --extra-arg=-isystem"$cxx_include/x86_64-w64-mingw32" \
      --extra-arg=-Wno-unknown-warning-option || rc=1
  [ "$rc" -eq 0 ] && log "lint: clean"
  return "$rc"
}
