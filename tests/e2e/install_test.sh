#!/usr/bin/env bash
# Installs the build tree into a throwaway prefix, checks the layout, and builds a small
# program against the installed package config.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: install_test.sh BUILD_DIR}
work=$(mktemp -d /tmp/orvik-install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
policy=share/polkit-1/actions/com.orvikware.orvik-uninstaller.policy
for path in bin/orvik-uninstaller lib/liborvik_{platform,strings,win32compat,resources,paths,uninstall}.a \
  include/orvik/uninstaller/Uninstall.h include/orvik/platform/Authorization.h \
  lib/cmake/orvik/orvikConfig.cmake share/man/man1/orvik-uninstaller.1 \
  share/locale/de/LC_MESSAGES/orvik-uninstaller.mo "$policy"; do
  [ -e "$prefix/$path" ] || { echo "missing after install: $path"; fail=1; }
done
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$prefix/bin/orvik-uninstaller<" \
  "$prefix/$policy" ||
  { echo "the policy does not name the installed program"; fail=1; }
grep -q 'org.freedesktop.policykit.exec.allow_gui">true<' \
  "$prefix/$policy" ||
  { echo "the policy does not keep the graphical session"; fail=1; }
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww "$prefix/share/man/man1/orvik-uninstaller.1" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || { echo "man page: $warnings"; fail=1; }
fi
[ $fail -eq 0 ] || exit 1

# A consumer that links the whole stack through find_package(orvik).
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(orvik REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE orvik::uninstall)
CMAKE
cat >"$work/consumer/main.cpp" <<'CPP'
#include "uninstaller/Uninstall.h"
int main(int argc, char** argv) {
    UninstallArguments arguments = ParseUninstallArguments(argc, argv);
    return arguments.silent ? 0 : 1;
}
CPP
# Libraries built with the sanitizers need them at link time too.
link_flags=()
if grep -q '^ORVIK_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  link_flags=(-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
cmake -S "$work/consumer" -B "$work/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  "${link_flags[@]}" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
"$work/consumer/build/consumer" -SILENT
echo "install layout and package config: ok"
