# Sourced: how 32-bit Windows programs run here. Debian's wine32 (i386) runs them in
# the 64-bit prefix, but only where the kernel runs 32-bit programs at all: machines
# of the same kind differ here. Nothing below may fail the suite on a machine that
# cannot.

# A 96-byte static i386 Linux program that only calls exit(42).
PROBE_I386='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'

kernel_runs_i386() {
  local probe=$BUILD/probe-i386 rc=0
  if [ ! -x "$probe" ]; then
    mkdir -p "$BUILD"
    printf "$PROBE_I386" > "$probe.tmp" && chmod +x "$probe.tmp" && mv "$probe.tmp" "$probe" || return 1
  fi
  timeout 10 "$probe" </dev/null >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 42 ]
}

# --- the 32-bit suite in an emulated machine ----------------------------------------
# Where the kernel runs no 32-bit programs (or wine32 cannot be installed), a
# full-system emulated machine (tools/vm32) runs them: Debian's kernel and a
# debootstrap root with both halves of Wine, built on first use and cached per
# machine, keyed by what it is built from. The i686 trees are built here as
# always and shared into it at their own paths; ctest runs inside, one boot for
# the whole suite. WDX_VM32 unset: only where native cannot; 1: always (even
# where native works); 0: never. Nothing i386 is installed on the host for it.
VM32_TOOLS=$ROOT/tools/vm32
VM32_IMAGE="" VM32_WHY=""
vm32_cache_root() {
  if [ -n "${WDX_VM32_CACHE:-}" ]; then echo "$WDX_VM32_CACHE"
  elif [ -w /var/cache ] || [ -n "$SUDO" ]; then echo /var/cache/wdx-vm32
  else echo "${XDG_CACHE_HOME:-$HOME/.cache}/wdx-vm32"; fi
}
vm32_key() {
  { cat "$VM32_TOOLS/image.sh"; echo "${WDX_VM32_MIRROR:-}|${WDX_VM32_SECURITY_MIRROR:-}"; } |
    sha256sum | cut -c1-16
}
# Sets VM32_IMAGE to a ready image, building it when allowed (install) and
# missing; else VM32_WHY says why not.
vm32_ready() {  # install|no-install
  local cache key dir log
  cache=$(vm32_cache_root) key=$(vm32_key)
  dir=$cache/$key log=$cache/$key.log
  [ -f "$dir/READY" ] && { VM32_IMAGE=$dir; return 0; }
  if [ "$1" != install ]; then VM32_WHY="no emulated machine's image yet (./wdx test builds it)"; return 1; fi
  if ! { command -v qemu-system-x86_64 && command -v qemu-img && command -v debootstrap && command -v mke2fs; } >/dev/null; then
    log "installing QEMU and debootstrap for the emulated machine"
    apt_update
    APT_REASON=""
    apt_install qemu-system-x86 qemu-utils debootstrap e2fsprogs >/dev/null 2>&1 ||
      { VM32_WHY="QEMU or debootstrap could not be installed (apt: ${APT_REASON:-see apt-get install qemu-system-x86})"; return 1; }
  fi
  $SUDO mkdir -p "$cache"
  log "building the emulated machine's image in $dir (once per machine; about 20 minutes, log: $log)"
  local t0=$SECONDS
  # One build at a time per key; a second caller waits and takes its result.
  if ! $SUDO flock "$dir.lock" sh -c '[ -f "$1/READY" ] || nice -n 10 "$2" "$1"' sh "$dir" "$VM32_TOOLS/image.sh" >"$log" 2>&1; then
    VM32_WHY="the emulated machine's image could not be built ($(grep '^== vm32:' "$log" | tail -n 1 | sed 's/^== vm32: //'))"
    return 1
  fi
  log "the emulated machine's image is ready ($(( (SECONDS - t0) / 60 )) min $(( (SECONDS - t0) % 60 )) s)"
  VM32_IMAGE=$dir
}
# Runs a command in one boot of the emulated machine, the source and build folders
# shared at their own paths; its output shows here, its exit status is returned.
vm32_run() {  # [--local PATH]... [--env NAME=VALUE]... -- command...
  local shares=(--share "$ROOT")
  case $BUILD/ in "$ROOT"/*) ;; *) shares+=(--share "$BUILD") ;; esac
  # The tests' own settings (WDX_FUZZ_SHARE, WDX_FUZZ_SEED, ...) go in with them,
  # and WDX_BUILD_DIR, which the presets name the trees by.
  local v envs=()
  for v in $(compgen -e); do
    case $v in WDX_VM32*) ;; WDX_*) envs+=(--env "$v=${!v}") ;; esac
  done
  WDX_VM32_ACCEL_FILE=$BUILD/vm32-accel \
    "$VM32_TOOLS/boot.sh" --image "$VM32_IMAGE" "${shares[@]}" --timeout "${WDX_VM32_TIMEOUT:-5400}" "${envs[@]}" "$@"
}
# What the last boot ran on: kvm (hardware virtualisation) or tcg (software emulation).
vm32_accel() { cat "$BUILD/vm32-accel" 2>/dev/null || echo "?"; }

# Chooses how 32-bit programs run: HOW32=native (wine32 here), emulated (the
# machine above, only when install) or empty, with WHY32 saying why not.
HOW32="" WHY32=""
choose_32bit() {  # install|no-install
  HOW32="" WHY32=""
  if [ "${WDX_VM32:-}" != 1 ]; then
    if ! kernel_runs_i386; then
      WHY32="this machine's kernel runs no 32-bit programs"
    elif [ -x "$WINE32" ]; then
      HOW32=native; return 0
    elif [ "$1" != install ]; then
      WHY32="wine32:i386 is not installed (./wdx test installs it)"
    else
      APT_REASON=""
      if setup_wine32; then HOW32=native; return 0; fi
      WHY32="wine32:i386 could not be installed (apt: ${APT_REASON:-see apt-get install wine32:i386})"
    fi
  fi
  [ "$1" = install ] || return 0
  if [ "${WDX_VM32:-}" = 0 ]; then WHY32="${WHY32:+$WHY32, }WDX_VM32=0"; return 0; fi
  if vm32_ready install; then HOW32=emulated; else WHY32="${WHY32:+$WHY32; }$VM32_WHY"; fi
}

# The emulated machine runs Wine a few times slower (software emulation): the
# i686 trees' time bounds get that much slack there (the same tree either way).
# Its Python is Debian's, at the path the tests' entries name (not a host's own one).
vm32_cmake_args() {
  echo "-DWDX_TIMEOUT_SCALE=$([ "$HOW32" = emulated ] && echo 4 || echo 1)"
  [ "$HOW32" = emulated ] && echo -DPython3_EXECUTABLE=/usr/bin/python3 || true
}

# Sets RUN32=1 when 32-bit programs can run here, building the given i686 tree (or
# only the given targets of it), else says why in one line. X86_TESTS: that tree.
RUN32=0 X86_TESTS=$BUILD/x86-tests T32=x86-tests
prepare_32bit() {  # install|no-install what preset [target...]
  local install=$1 what=$2; T32=$3 X86_TESTS=$BUILD/$3; shift 3
  choose_32bit "$install"
  if [ -z "$HOW32" ]; then log "$WHY32: $what"; return 0; fi
  # shellcheck disable=SC2046
  configure "$T32" $(vm32_cmake_args)
  build_tree "$T32" "$@"
  RUN32=1
}

# After the prefix is up: 32-bit Windows programs need its WOW64 half, and one
# trivial 32-bit program must really run before the suite is trusted to. (In the
# emulated machine the suite's own wow64_shipped_dll entry checks that.)
check_wine32() {
  [ "$RUN32" -eq 1 ] && [ "$HOW32" = native ] || return 0
  local exe=$X86_TESTS/probe-win32.exe rc=0
  if [ ! -f "$exe" ]; then
    printf 'int main(void) { return 42; }\n' | i686-w64-mingw32-gcc-posix -x c - -o "$exe" || rc=1
  fi
  [ "$rc" -eq 0 ] && { timeout 120 "$WINE32" "$exe" </dev/null >/dev/null 2>&1 || rc=$?; }
  if [ "$rc" -ne 42 ]; then
    log "32-bit Windows programs do not run under wine32 here (exit $rc): 64-bit programs only"
    RUN32=0 WHY32="32-bit Windows programs do not run under wine32 here (exit $rc)"
  fi
}

# ctest over the i686 tree (its test preset), natively or in one boot of the
# emulated machine, where the browser entry is left out (no browser inside). Sets
# SAID32 to the line that says how it ran.
SAID32=""
ctest32() {  # [ctest args]
  local t0=$SECONDS rc=0
  if [ "$HOW32" = native ]; then
    (cd "$ROOT" && ctest --preset "$T32" "$@") || rc=$?
    SAID32="ran natively under wine32 ($((SECONDS - t0)) s)"
    return "$rc"
  fi
  local args=() a exclude='^console_browser$' next=0
  for a; do
    if [ "$next" -eq 1 ]; then args+=("$exclude|$a"); next=0; exclude=""; continue; fi
    case $a in -E|--exclude-regex) args+=("$a"); next=1 ;; *) args+=("$a") ;; esac
  done
  [ -n "$exclude" ] && args+=(-E "$exclude")
  vm32_run --local "$X86_TESTS/bin" -- env -C "$ROOT" ctest --preset "$T32" "${args[@]}" || rc=$?
  SAID32="ran in the emulated machine ($(vm32_accel), $((SECONDS - t0)) s, console_browser left out$([ "$rc" -eq 0 ] || echo ", exit $rc"))"
  [ "$rc" -eq 124 ] && SAID32="stopped in the emulated machine after $((SECONDS - t0)) s (WDX_VM32_TIMEOUT)"
  [ "$rc" -eq 125 ] && SAID32="did not run: the emulated machine failed to boot or ended early"
  return "$rc"
}
say_32bit() {  # label
  if [ -n "$SAID32" ]; then log "$1: $SAID32"
  else log "$1: skipped (${WHY32:-not run})"; fi
}
