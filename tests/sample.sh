#!/bin/sh
# sample.sh generator sample
# The sample shipped in examples/ must be exactly what its generator makes.
"$1" | cmp - "$2"
