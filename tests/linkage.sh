#!/bin/sh
# linkage.sh program [library...]
# The program must export our replacements of libc's functions, and link
# exactly the codec libraries named (png, jpeg) and no other.
program=$1
shift
status=0

for symbol in warn reallocarray strtonum; do
	if ! nm -D --defined-only "$program" | awk '{ print $3 }' |
	    grep -qx "$symbol"; then
		echo "$program does not export $symbol"
		status=1
	fi
done

needed=$(readelf -d "$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
for codec in png jpeg; do
	wanted=no
	for library; do
		[ "$library" = "$codec" ] && wanted=yes
	done
	linked=no
	echo "$needed" | grep -q "^lib$codec" && linked=yes
	if [ $wanted != $linked ]; then
		echo "$program: lib$codec linked: $linked, wanted: $wanted"
		status=1
	fi
done
exit $status
