#!/bin/sh
# Installs the built library into a temporary prefix, then builds the hello example against
# the installed files twice, with pkg-config and with CMake's find_package, and runs both.
# Also checks that DESTDIR stages the same tree below it.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
expected=$(cat "$source/examples/data/hello_expected.txt")

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name 'libquarn-runtime.so.0.1.0')")
for name in libquarn-runtime.so libquarn-runtime.so.0; do
  [ -L "$libdir/$name" ] || { echo "missing link $libdir/$name"; exit 1; }
done
[ "$(readelf -d "$libdir/libquarn-runtime.so.0.1.0" | sed -n 's/.*soname: \[\(.*\)\]/\1/p')" = \
  libquarn-runtime.so.0 ] || { echo "wrong soname"; exit 1; }
for header in "$source"/include/quarn/*.h; do
  [ -f "$prefix/include/quarn/$(basename "$header")" ] || { echo "missing $header"; exit 1; }
done

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$work/hello_pc" "$source/examples/hello.c" -I"$source/examples" \
   $(pkg-config --cflags quarn-runtime) $(pkg-config --libs quarn-runtime)
out=$(LD_LIBRARY_PATH="$libdir" "$work/hello_pc")
[ "$out" = "$expected" ] || { echo "pkg-config build printed: $out"; exit 1; }
pkg-config --static --libs quarn-runtime | grep -q -- -lmimalloc || { echo "no private mimalloc"; exit 1; }

# find_package
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
      -DCMAKE_PREFIX_PATH="$prefix" -DEXAMPLE_DIR="$source/examples" >"$work/configure.log"
cmake --build "$work/consumer" >"$work/build.log"
out=$("$work/consumer/hello")
[ "$out" = "$expected" ] || { echo "find_package build printed: $out"; exit 1; }

# DESTDIR stages below itself and leaves the prefix's paths in the pkg-config file.
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/quarn >"$work/stage.log"
pc=$(find "$work/stage/opt/quarn" -name quarn-runtime.pc)
[ -n "$pc" ] && grep -q '^prefix=/opt/quarn$' "$pc" || { echo "DESTDIR install is wrong"; exit 1; }
echo "installed package builds and runs both ways"
