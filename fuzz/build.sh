#!/bin/sh
# Builds the two fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ of the source tree.
#   fuzz/build.sh            (from anywhere)
#   CXX=clang++-14 fuzz/build.sh
set -eu
cd "$(dirname "$0")/.."
CXX=${CXX:-clang++}
OUT=build-fuzz
mkdir -p "$OUT"
FLAGS="-g -O1 -std=c++20 -I. -Iinclude -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -fno-omit-frame-pointer -ffp-contract=off"

# The record layer, and the deck reader with the echo.
REPORT=$(ls report/*.cpp)
DRIVER="api/deck_reader.cpp api/echo_writer.cpp estimate/search_bounds.cpp"

echo "building $OUT/layout_reader_fuzz"
$CXX $FLAGS -o "$OUT/layout_reader_fuzz" fuzz/layout_reader_fuzz.cpp $REPORT
echo "building $OUT/deck_reader_fuzz"
$CXX $FLAGS -o "$OUT/deck_reader_fuzz" fuzz/deck_reader_fuzz.cpp $REPORT $DRIVER
