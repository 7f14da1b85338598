# Shared settings of the project's scripts: paths, Wine, its prefix and the build.
VOXTREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
VOXTREL_CACHE="${VOXTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/voxtrel}"
VOXTREL_BUILD="${VOXTREL_BUILD:-$VOXTREL_ROOT/build}"
export VOXTREL_CACHE
export WINEARCH=win64
export WINEPREFIX="${WINEPREFIX:-$VOXTREL_CACHE/wineprefix}"
# Keep Wine from offering to download Mono and Gecko, which this program never uses.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
source "$VOXTREL_ROOT/scripts/lib/progress.sh"

log() { echo "[$(basename "$0")] $*" >&2; }

# Puts the private Wine tree with the fixed X11 driver first on PATH, so that every wine,
# wineserver and winepath below runs from it; scripts/build-wine makes it once per Wine version
# and says in one line when it cannot, and the stock Wine is used.
voxtrel_use_fixed_wine() {
  local bin
  if bin="$("$VOXTREL_ROOT/scripts/build-wine")"; then
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
    # Tests of what the screen shows need it; with the stock Wine they are skipped.
    export VOXTREL_WINE_FIXED=1
  fi
}

# Configures the build folder for the dependency prefix and the Wine in use.
voxtrel_configure() {
  cmake -S "$VOXTREL_ROOT" -B "$VOXTREL_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$VOXTREL_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$1" -DVOXTREL_DEPS_PREFIX="$1" -DWINE_PROGRAM="$(command -v wine)" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

# Installs missing packages, builds the dependencies and the fixed Wine once, and configures
# and builds the project.
voxtrel_build() {
  "$VOXTREL_ROOT/scripts/install-packages"
  local prefix
  prefix="$("$VOXTREL_ROOT/scripts/build-deps")"
  voxtrel_use_fixed_wine
  # Configures afresh when no configuration for this prefix and Wine has completed: the cache
  # keeps the paths of the libraries found in an old prefix, which may be gone.
  local wanted="$prefix $(command -v wine)" stamp="$VOXTREL_BUILD/.voxtrel-configured"
  if [ ! -f "$VOXTREL_BUILD/build.ninja" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
    rm -f "$VOXTREL_BUILD/CMakeCache.txt" "$stamp"
    voxtrel_step "[build] configuring Voxtrel in $VOXTREL_BUILD" configure voxtrel_configure "$prefix"
    echo "$wanted" >"$stamp"
  fi
  voxtrel_step "[build] building Voxtrel" build cmake --build "$VOXTREL_BUILD" -j "$(nproc)"
}

# Creates the Wine prefix on first use (about 10 s).
voxtrel_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    voxtrel_step "[wine] creating the Wine prefix in $WINEPREFIX" wine-prefix voxtrel_create_wine_prefix
  fi
}

# Starts Wine once in a new prefix and waits until it has written its registry.
voxtrel_create_wine_prefix() {
  mkdir -p "$WINEPREFIX"
  wineboot -i || true
  wineserver -w || true
}
