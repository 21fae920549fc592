#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout a packager and a host developer
# rely on, builds the example hosts against the installed package (CMake and pkg-config), and
# runs Init with them against the installed ovk-refservice, without a display.
set -euo pipefail

build="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"
work="$(mktemp -d)"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

# The layout.
pc="$(find "$prefix" -name ovk_client.pc)"
[ -n "$pc" ] || fail "no ovk_client.pc"
libdir="$(dirname "$(dirname "$pc")")"
for f in "$libdir/libovk_client.so" "$libdir/ovk_client/nls.xml" "$libdir/ovk_client/VelmoraSvr.wsdl" \
         "$libdir/ovk_client/TARVO_download.XSD" "$libdir/ovk_client/MERIDO_download.XSD" \
         "$libdir/ovk_client/ovk_client.xml" "$libdir/cmake/ovk_client/ovk_clientConfig.cmake" \
         "$libdir/cmake/ovk_client/ovk_clientConfigVersion.cmake" \
         "$prefix/include/ovk/client.hpp" "$prefix/include/ovk/ovk_client.h" \
         "$prefix/bin/ovk-host" "$prefix/bin/ovk-refservice" "$prefix/libexec/ovk_client/ovk-host-desktop"; do
  [ -e "$f" ] || fail "missing ${f#$prefix/}"
done
stray="$(find "$libdir" -maxdepth 1 -type f ! -name 'libovk_client.so*')"
[ -z "$stray" ] || fail "files loose in the library folder: $stray"
version="$(sed -n 's/^project(ovk_client VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion ovk_client)" = "$version" ] || fail "pkg-config version is not $version"
if grep -rq "ClientServices" "$prefix/include"; then fail "a public header names ClientServices"; fi

# The hosts: C through pkg-config, C and C++ through the CMake package.
cc "$source_dir/examples/host-c/host.c" $(pkg-config --cflags --libs ovk_client) \
   -Wl,-rpath,"$(pkg-config --variable=libdir ovk_client)" -o "$work/host-c-pc" || fail "host-c with pkg-config"
for host in host-c host-cpp; do
  cmake -S "$source_dir/examples/$host" -B "$work/$host" -DCMAKE_PREFIX_PATH="$prefix" >"$work/$host.log" 2>&1 &&
    cmake --build "$work/$host" >>"$work/$host.log" 2>&1 || { cat "$work/$host.log"; fail "building $host with CMake"; }
done

# The installed service with the installed sample catalogue.
mkfifo "$work/service.out"
"$prefix/bin/ovk-refservice" --catalog "$prefix/share/ovk_client/examples/catalog" --port 0 \
  --parent-pid $$ >"$work/service.out" &
service_pid=$!
exec 3<"$work/service.out"
read -r -t 30 first_line <&3 || fail "the installed ovk-refservice did not start"
url="${first_line#listening on }"
sed -e "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$prefix/share/ovk_client/examples/tarvo_download.xml" >"$work/download.xml"

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u OVK_COMPONENT_DIR)
expect() {  # expect EXIT_STATUS TEXT COMMAND...
  local want_status="$1" want_text="$2"; shift 2
  local status=0
  "$@" >"$work/out" 2>&1 || status=$?
  [ "$status" = "$want_status" ] || { cat "$work/out"; fail "$* exited $status, not $want_status"; }
  grep -qF -- "$want_text" "$work/out" || { cat "$work/out"; fail "$* did not say: $want_text"; }
}
expect 0 "Init gave 0" "${headless[@]}" "$work/host-c-pc" --unattended "$work/download.xml"
expect 0 "Init gave 0" "${headless[@]}" "$work/host-c/host-c" --unattended "$work/download.xml"
expect 0 "DownloadCancel" "${headless[@]}" "$work/host-cpp/host-cpp" --unattended "$work/download.xml"
# Without a display and without the unattended mode: a reported failure, never an abort.
expect 1 "Init gave -990" "${headless[@]}" "$work/host-c/host-c" "$work/download.xml"
expect 1 "QT_QPA_PLATFORM=offscreen" "${headless[@]}" "$work/host-cpp/host-cpp" "$work/download.xml"
# The installed ovk-host finds the installed component files.
expect 0 '"check":0' "${headless[@]}" "$prefix/bin/ovk-host" check "$work/download.xml"
# A run with windows goes on in the installed windowed part, which finds the same files (Qt's
# minimal platform shows the windows without a display server).
expect 0 '{"init":0}' env -u WAYLAND_DISPLAY -u OVK_COMPONENT_DIR DISPLAY=:97 QT_QPA_PLATFORM=minimal \
  "$prefix/bin/ovk-host" run --init-only --settings-dir "$work/settings" "$work/download.xml"
echo "installed package: layout, hosts and Init all fine"
