# Shared settings of the project's scripts: paths, the Wine prefix and the build.
VOXTREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
VOXTREL_CACHE="${VOXTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/voxtrel}"
VOXTREL_BUILD="${VOXTREL_BUILD:-$VOXTREL_ROOT/build}"
export VOXTREL_CACHE
export WINEARCH=win64
export WINEPREFIX="${WINEPREFIX:-$VOXTREL_CACHE/wineprefix}"
# Keep Wine from offering to download Mono and Gecko, which this program never uses.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"

log() { echo "[$(basename "$0")] $*" >&2; }

# Installs missing packages, builds the dependencies once and configures and builds the project.
voxtrel_build() {
  "$VOXTREL_ROOT/scripts/install-packages"
  local prefix
  prefix="$("$VOXTREL_ROOT/scripts/build-deps")"
  log "building Voxtrel in $VOXTREL_BUILD"
  # Configures again when an earlier configuration did not complete or used another prefix.
  if [ ! -f "$VOXTREL_BUILD/build.ninja" ] ||
     ! grep -q "^VOXTREL_DEPS_PREFIX:[A-Z]*=$prefix\$" "$VOXTREL_BUILD/CMakeCache.txt"; then
    cmake -S "$VOXTREL_ROOT" -B "$VOXTREL_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$VOXTREL_ROOT/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_PREFIX_PATH="$prefix" -DVOXTREL_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
  fi
  cmake --build "$VOXTREL_BUILD" -j "$(nproc)" >&2
}

# Creates the Wine prefix on first use (about 10 s).
voxtrel_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
}
