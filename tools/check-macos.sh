#!/bin/bash
# Compiles every macOS source of the repository for macOS on Arm against Apple's SDK headers,
# syntax only, with warnings (deprecations included) as errors: the check that the backends meet
# Apple's real declarations, not only the Linux stand-in's.
#
#   tools/check-macos.sh SDK_DIR
#
# SDK_DIR is a macOS SDK: either Xcode's layout (usr/include, System/Library/Frameworks) or the
# flat one of a headers-only copy (include, Frameworks, lib). The sources are the tracked
# *-mac.cc, *-mac.h and *.mm files and every other C++ file that has an __APPLE__ branch. Qt
# files use Debian's Qt 6 headers. A framework that SDK_DIR lacks and a source needs is declared by
# tools/macos-overlay/ (only where the SDK has no such framework). Prints each file with "ok" or
# "FAIL" and the compiler's diagnostics; exits 1 when any file fails, 2 on a usage error.
#
# Environment: CLANG (default clang-19), QT_INCLUDE (default: pkg-config's Qt6Core includedir).
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 SDK_DIR" >&2
  exit 2
fi
sdk=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
clang=${CLANG:-clang-19}
if ! command -v "$clang" > /dev/null; then
  echo "$0: $clang not found (apt-get install clang-19, or set CLANG)" >&2
  exit 2
fi
qt=${QT_INCLUDE:-$(pkg-config --variable=includedir Qt6Core 2> /dev/null)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A flat headers-only SDK gets the directory layout that -isysroot expects.
if [ -d "$sdk/usr/include" ]; then
  sysroot=$sdk
elif [ -d "$sdk/include" ] && [ -d "$sdk/Frameworks" ]; then
  sysroot=$work/sysroot
  mkdir -p "$sysroot/usr" "$sysroot/System/Library"
  ln -s "$sdk/include" "$sysroot/usr/include"
  [ -d "$sdk/lib" ] && ln -s "$sdk/lib" "$sysroot/usr/lib"
  ln -s "$sdk/Frameworks" "$sysroot/System/Library/Frameworks"
else
  echo "$0: $sdk is not a macOS SDK (no usr/include, no include and Frameworks)" >&2
  exit 2
fi

# The overlay's frameworks, for those the SDK does not have.
mkdir -p "$work/overlay"
shopt -s nullglob
for framework in "$root"/tools/macos-overlay/*.framework; do
  name=$(basename "$framework")
  if [ ! -d "$sysroot/System/Library/Frameworks/$name" ]; then
    ln -s "$framework" "$work/overlay/$name"
    echo "overlay: $name (not in the SDK)"
  fi
done

flags=(-target arm64-apple-macos15 -isysroot "$sysroot" -F "$work/overlay" -fsyntax-only
  -std=c++20 -stdlib=libc++ -Wall -Wextra -Wpedantic -Werror -Wdeprecated -Werror=deprecated-declarations
  -Wunguarded-availability -I "$root" -DMEVRIK_VERSION='"0"')
if [ -n "$qt" ] && [ -d "$qt/QtCore" ]; then
  # Only Qt's own folders: the rest of the Linux include tree must stay out of a macOS compile.
  flags+=(-isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets")
else
  echo "$0: no Qt 6 headers (install qt6-base-dev or set QT_INCLUDE); Qt files will fail" >&2
fi

cd "$root" || exit 2
mapfile -t files < <({
  git ls-files -- '*-mac.cc' '*-mac.h' '*.mm'
  git ls-files -- '*.cc' '*.h' | grep -v -e '^macos-standin/' -e '_test\.cc$' |
    xargs grep -l '__APPLE__' 2> /dev/null
} | sort -u)

failed=0
for file in "${files[@]}"; do
  case $file in
    *.mm) language=(-x objective-c++ -fobjc-arc) ;;
    *.h) language=(-x c++-header) ;;
    *) language=(-x c++) ;;
  esac
  if output=$("$clang" "${flags[@]}" "${language[@]}" "$file" 2>&1); then
    echo "ok   $file"
  else
    echo "FAIL $file"
    printf '     %s\n' "${output//$'\n'/$'\n'     }"
    failed=$((failed + 1))
  fi
done
echo "${#files[@]} files, $failed failed"
[ "$failed" -eq 0 ]
