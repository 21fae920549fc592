#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build twice, as a host developer gets it: with `cmake --install` into a temporary
# prefix, and as the Debian package `make package` builds, unpacked into a scratch root with
# dpkg -x (and checked by lintian when it is there). In each it checks the layout a packager
# and a host developer rely on, builds the example hosts against it (CMake and pkg-config),
# runs Init with them against the installed ovk-refservice without a display, and downloads
# without the wizard through the C and the C++ interface.
#   installed_hosts_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"
work="$(mktemp -d)"
service_pid=""
stop_service() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  service_pid=""
}
cleanup() {
  stop_service
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
version="$(sed -n 's/^project(ovk_client VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")"

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u OVK_COMPONENT_DIR)
expect() {  # expect EXIT_STATUS TEXT COMMAND...
  local want_status="$1" want_text="$2"; shift 2
  local status=0
  "$@" >"$work/out" 2>&1 || status=$?
  [ "$status" = "$want_status" ] || { cat "$work/out"; fail "$* exited $status, not $want_status"; }
  grep -qF -- "$want_text" "$work/out" || { cat "$work/out"; fail "$* did not say: $want_text"; }
}

# check_installed PREFIX NAME: everything a host developer does with the component under PREFIX.
check_installed() {
  local prefix="$1" name="$2"
  local hosts="$work/$name-hosts"
  mkdir -p "$hosts"

  # The layout.
  local pc libdir docdir
  pc="$(find "$prefix" -name ovk_client.pc)"
  [ -n "$pc" ] || fail "$name: no ovk_client.pc"
  libdir="$(dirname "$(dirname "$pc")")"
  docdir="$prefix/share/doc/ovk-client"
  for f in "$libdir/libovk_client.so" "$libdir/ovk_client/nls.xml" "$libdir/ovk_client/VelmoraSvr.wsdl" \
           "$libdir/ovk_client/TARVO_download.XSD" "$libdir/ovk_client/MERIDO_download.XSD" \
           "$libdir/ovk_client/ovk_client.xml" "$libdir/cmake/ovk_client/ovk_clientConfig.cmake" \
           "$libdir/cmake/ovk_client/ovk_clientConfigVersion.cmake" \
           "$prefix/include/ovk/client.hpp" "$prefix/include/ovk/ovk_client.h" "$prefix/include/ovk/version.h" \
           "$prefix/bin/ovk-host" "$prefix/bin/ovk-refservice" "$prefix/libexec/ovk_client/ovk-host-desktop" \
           "$docdir/README.md" "$docdir/CHANGELOG.md" "$docdir/host-guide.md" "$docdir/copyright" \
           "$docdir/examples/nightly/nightly.cpp" "$docdir/examples/host-c/host.c"; do
    [ -e "$f" ] || fail "$name: missing ${f#$prefix/}"
  done
  local stray
  stray="$(find "$libdir" -maxdepth 1 -type f ! -name 'libovk_client.so*')"
  [ -z "$stray" ] || fail "$name: files loose in the library folder: $stray"
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  [ "$(pkg-config --modversion ovk_client)" = "$version" ] || fail "$name: pkg-config version is not $version"
  grep -q "OVK_CLIENT_VERSION_TEXT \"$version\"" "$prefix/include/ovk/version.h" ||
    fail "$name: version.h does not say $version"
  if grep -rq "ClientServices" "$prefix/include"; then fail "$name: a public header names ClientServices"; fi

  # The hosts, from the installed examples: C through pkg-config, all three through CMake.
  cc "$docdir/examples/host-c/host.c" $(pkg-config --cflags --libs ovk_client) \
     -Wl,-rpath,"$(pkg-config --variable=libdir ovk_client)" -o "$hosts/host-c-pc" ||
    fail "$name: host-c with pkg-config"
  local host
  for host in host-c host-cpp nightly; do
    cmake -S "$docdir/examples/$host" -B "$hosts/$host" -DCMAKE_PREFIX_PATH="$prefix" >"$hosts/$host.log" 2>&1 &&
      cmake --build "$hosts/$host" >>"$hosts/$host.log" 2>&1 || { cat "$hosts/$host.log"; fail "$name: building $host with CMake"; }
  done

  # The installed service with the installed sample catalogue.
  rm -f "$work/service.out"
  mkfifo "$work/service.out"
  "$prefix/bin/ovk-refservice" --catalog "$prefix/share/ovk_client/examples/catalog" --port 0 \
    --parent-pid $$ >"$work/service.out" &
  service_pid=$!
  exec 3<"$work/service.out"
  local first_line url
  read -r -t 30 first_line <&3 || fail "$name: the installed ovk-refservice did not start"
  url="${first_line#listening on }"
  local document="$hosts/download.xml"
  sed -e "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$prefix/share/ovk_client/examples/tarvo_download.xml" >"$document"

  expect 0 "ovk_client $version" "$prefix/bin/ovk-host" --version
  expect 0 "Init gave 0" "${headless[@]}" "$hosts/host-c-pc" --unattended "$document"
  expect 0 "Init gave 0" "${headless[@]}" "$hosts/host-c/host-c" --unattended "$document"
  expect 0 "DownloadCancel" "${headless[@]}" "$hosts/host-cpp/host-cpp" --unattended "$document"
  # Without a display and without the unattended mode: a reported failure, never an abort.
  expect 1 "Init gave -990" "${headless[@]}" "$hosts/host-c/host-c" "$document"
  expect 1 "QT_QPA_PLATFORM=offscreen" "${headless[@]}" "$hosts/host-cpp/host-cpp" "$document"
  # Downloads without the wizard: one leaf through C, a whole branch through C++.
  local leaf="0{}Catalog||7{}Motors||3{}Velmora||12{}AC"
  expect 0 "DownloadComplete" "${headless[@]}" "$hosts/host-c/host-c" --download "$leaf" "$document"
  grep -qF "ovk_client $version" "$work/out" || fail "$name: host-c did not print the library's version"
  expect 0 "2/2 articles" "${headless[@]}" "$hosts/host-c/host-c" --download "$leaf" "$document"
  expect 0 "articles to download" "${headless[@]}" "$hosts/nightly/nightly" "$document" "0{}Catalog||7{}Motors"
  [ "$(grep -c "<Articleinfo" "$document")" -gt 2 ] || fail "$name: the nightly download wrote no articles"
  # The installed ovk-host finds the installed component files.
  expect 0 '"check":0' "${headless[@]}" "$prefix/bin/ovk-host" check "$document"
  # A run with windows goes on in the installed windowed part, which finds the same files (Qt's
  # minimal platform shows the windows without a display server).
  expect 0 '{"init":0}' env -u WAYLAND_DISPLAY -u OVK_COMPONENT_DIR DISPLAY=:97 QT_QPA_PLATFORM=minimal \
    "$prefix/bin/ovk-host" run --init-only --settings-dir "$hosts/settings" "$document"
  exec 3<&-
  stop_service
  echo "$name: layout, hosts, Init and downloads all fine"
}

# 1. cmake --install into a prefix.
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
check_installed "$prefix" "installed prefix"

# 2. The Debian package, unpacked into a scratch root.
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "cpack"; }
deb="$(find "$work/package" -maxdepth 1 -name "ovk-client_${version}_*.deb")"
[ -n "$deb" ] || { ls "$work/package"; fail "no ovk-client_${version} package"; }
if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian finds errors in the package"; }
fi
dpkg-deb --field "$deb" Depends | grep -q "libqt6widgets6" || fail "the package does not depend on Qt"
dpkg -x "$deb" "$work/root"
check_installed "$work/root/usr" "Debian package"
