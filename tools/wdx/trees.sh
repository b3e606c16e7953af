# Sourced: the build trees, one per configure preset of CMakePresets.json, each in
# $BUILD/<preset>. The options live in the presets; on top come only the values
# that vary per run (the release's time stamp, the emulated machine's slack).

# Configures a tree when it is new, or when its preset file or the values passed on
# top changed since (kept in the tree's wdx-configure.args): cmake --preset applies
# a preset's values to an existing cache, while ninja's own re-run of cmake would
# not, so an existing tree picks a change up only this way.
configure() {  # preset [cmake -D args on top]
  local preset=$1; shift
  local tree=$BUILD/$preset stamp=$BUILD/$preset/wdx-configure.args
  local args=(${SOURCE_DATE_EPOCH:+-DWDX_TIMESTAMP="$SOURCE_DATE_EPOCH"} "$@") want
  want=$(printf '%s\n' "--preset=$preset" "${args[@]}" "$(sha256sum < "$ROOT/CMakePresets.json")")
  if [ ! -f "$tree/build.ninja" ] || [ "$want" != "$(cat "$stamp" 2>/dev/null)" ]; then
    (cd "$ROOT" && cmake --preset "$preset" "${args[@]}" >/dev/null)
    printf '%s\n' "$want" > "$stamp"
  fi
}

build_tree() {  # preset [target...]
  local preset=$1; shift
  (cd "$ROOT" && cmake --build --preset "$preset" ${1:+--target "$@"} -j "$(nproc)")
}

# The shipped DLL (x86), and the 64-bit tree with the tools and tests (x64).
build_dll() {
  setup
  mkdir -p "$BUILD"
  fetch_i386_dlls || true
  configure x86
  build_tree x86
}
build() {
  build_dll
  configure x64
  build_tree x64
}
