#!/bin/sh
# cmake --install of this build into a fresh prefix: each file where users
# and host developers look for it, the installed editor loading the
# installed module, and a host project finding the package.
#
#   install_test.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() {
    echo "install: $*" >&2
    exit 1
}
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/talvine-editor include/talvine/talvine.h share/applications/talvine-editor.desktop; do
    [ -e "$prefix/$f" ] || fail "no $f"
done
if grep -q '^TALVINE_BUILD_CLI:BOOL=ON' "$build/CMakeCache.txt"; then
    [ -x "$prefix/bin/talvine" ] || fail "no bin/talvine"
fi
module=$(find "$prefix" -name Talvine.so)
[ -n "$module" ] || fail "no Talvine.so"
[ -e "$(dirname "$module")/TalvineQtView.so" ] || fail "the Qt view is not beside Talvine.so"

pc=$(find "$prefix" -name talvine.pc)
[ -n "$pc" ] || fail "no talvine.pc"
export PKG_CONFIG_PATH="$(dirname "$pc")"
include=$(pkg-config --cflags-only-I talvine | sed 's/^ *-I//; s/ *$//')
[ -e "$include/talvine/talvine.h" ] || fail "pkg-config gives $include for the header"
[ "$(realpath "$(pkg-config --variable=module talvine)")" = "$(realpath "$module")" ] ||
    fail "pkg-config does not give the module"

loads=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/talvine-editor" --print-module)
[ "$loads" = "$module" ] || fail "the installed editor loads $loads, not $module"

mkdir "$prefix/host"
cat >"$prefix/host/CMakeLists.txt" <<'HOST'
cmake_minimum_required(VERSION 3.25)
project(Host C)
find_package(Talvine 4 REQUIRED)
if(NOT EXISTS "${TALVINE_MODULE}")
  message(FATAL_ERROR "no module at ${TALVINE_MODULE}")
endif()
add_executable(host host.c)
target_link_libraries(host PRIVATE Talvine::headers)
HOST
printf '#include <talvine/talvine.h>\nint main(void) { return 0; }\n' >"$prefix/host/host.c"
cmake -S "$prefix/host" -B "$prefix/host/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    >"$prefix/host.log" 2>&1 || { cat "$prefix/host.log" >&2; fail "find_package(Talvine)"; }
cmake --build "$prefix/host/build" >"$prefix/host.log" 2>&1 ||
    { cat "$prefix/host.log" >&2; fail "a host that includes the header"; }
echo "installed and found"
