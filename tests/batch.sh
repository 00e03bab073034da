#!/bin/sh
# batch.sh README.md builddir mksample
# Runs the README's batch conversion, exactly as written there, on a folder
# of PNGs with awkward names: each must become a JPEG of its size. Then a
# file that is not a PNG must be named, leave no JPEG behind and fail the
# batch.
readme=$1
build=$2
mksample=$3
status=0

batch=$(awk '/^## Many images/ { inside = 1; next }
    inside && /^## / { exit }
    inside && /^    / { sub(/^    /, ""); print; exit }' "$readme")
if [ -z "$batch" ]; then
	echo "$readme: no batch command under \"## Many images\""
	exit 1
fi

dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
PATH=$build:$PATH
export PATH

# image width height: a kelvorin image made of the sample's first pixels;
# width and height are each under 256, to fit one byte of the header
"$mksample" > sample.kv || exit 1
image()
{
	printf "kelvorin\\0\\0\\0\\$(printf %03o "$1")\\0\\0\\0\\$(printf %03o "$2")"
	tail -c +17 sample.kv | head -c $(($1 * $2 * 8))
}

mkdir -p "photos/sub folder" || exit 1
image 1 1 | kv2png > "photos/a b.png" &&
image 5 3 | kv2png > "photos/new
line.png" &&
image 31 7 | kv2png > "photos/sub folder/it's.png" &&
image 2 40 | kv2png > "photos/-dash.png" &&
kv2png < sample.kv > "photos/sub folder/sample.png" || exit 1
count=5

# check png width height: its JPEG must decode to an image of that size;
# no two PNGs have the same size, so a JPEG made from the wrong one fails.
check()
{
	jpg=${1%.png}.jpg
	if ! jpg2kv < "$jpg" > decoded.kv ||
	    [ "$(od -An -tx1 -N16 decoded.kv)" != \
	    "$(image "$2" "$3" | od -An -tx1 -N16)" ] ||
	    [ "$(wc -c < decoded.kv)" -ne $((16 + $2 * $3 * 8)) ]; then
		echo "$jpg: missing, or not a $2 x $3 image"
		status=1
	fi
}
checkall()
{
	check "photos/a b.png" 1 1
	check "photos/new
line.png" 5 3
	check "photos/sub folder/it's.png" 31 7
	check "photos/-dash.png" 2 40
	check "photos/sub folder/sample.png" 48 32
	jpgs=$(find photos -name '*.jpg' -exec printf x \; | wc -c)
	if [ "$jpgs" -ne $count ]; then
		echo "$jpgs JPEGs made from $count PNGs"
		status=1
	fi
}

if ! sh -c "$batch" > out 2> err; then
	echo "the batch failed:"
	cat err
	status=1
fi
checkall

echo "not a PNG" > "photos/sub folder/broken.png"
sh -c "$batch" > out 2> err
result=$?
if [ $result -ne 123 ]; then
	echo "with a broken file the batch ended with status $result, not 123"
	status=1
fi
if ! grep -Fqx "photos/sub folder/broken.png: not converted" err; then
	echo "the broken file is not named:"
	cat err
	status=1
fi
if [ -e "photos/sub folder/broken.jpg" ]; then
	echo "the broken file left a JPEG behind"
	status=1
fi
checkall
exit $status
