#!/bin/sh
# sample.sh generator png2kv sample.png
# The PNG shipped in examples/ must decode to exactly what its generator
# makes. Its own bytes are not compared: they depend on the zlib that
# compressed them.
expected=$(mktemp) || exit 1
trap 'rm -f "$expected"' EXIT
"$1" > "$expected" || exit 1
"$2" < "$3" | cmp - "$expected"
