#include <stdint.h>
#include <stdio.h>

#include "common/common.h"
#include "pnm/compositerow.h"

const char ownname[] = "kv2ppm";

[[noreturn]] static void
showusage(void)
{
	fail("usage: %s [-b colour]", displayname());
}

int
main(int argc, char *argv[])
{
	uint16_t background[3] = {65535, 65535, 65535};
	struct optionscan scan;
	uint32_t width, height, y, n;
	unsigned char *in, *out;
	size_t size;
	const char *value;
	int letter;

	programname = argv[0];

	startoptions(&scan, argc, argv);
	while ((letter = nextoption(&scan)) != 0) {
		switch (letter) {
		case 'b':
			if ((value = optionvalue(&scan)) == nullptr ||
			    parsecolour(value, background) != 0)
				showusage();
			break;
		default:
			showusage();
		}
	}
	if (scan.remaining != 0)
		showusage();
	confine();

	readheader(&width, &height);

	/* Rows move a batch's worth at a time. */
	size = (size_t)width * 8;
	in = (unsigned char *)xreallocarray(nullptr, rowbatch(size), size);
	out = (unsigned char *)xreallocarray(nullptr, rowbatch(size),
	    (size_t)width * 3);
	printf("P6\n%u %u\n255\n", width, height);

	/* The rows of a zero-width image are empty, however many it claims. */
	if (width == 0)
		height = 0;
	for (y = 0; y < height; y += n) {
		n = xreadrows(in, size, height - y);
		/* Several rows only while they fit a batch: no overflow. */
		compositerow(in, n * width, background, out);
		xfwrite(out, (size_t)width * 3, n, stdout);
	}

	return closestream(stdout, "<stdout>");
}
