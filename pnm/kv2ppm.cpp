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
	uint32_t width, height, y;
	unsigned char *in, *out;
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

	in = (unsigned char *)xreallocarray(nullptr, width, 8);
	out = (unsigned char *)xreallocarray(nullptr, width, 3);
	printf("P6\n%u %u\n255\n", width, height);

	/* The rows of a zero-width image are empty, however many it claims. */
	if (width == 0)
		height = 0;
	for (y = 0; y < height; y++) {
		xfread(in, 2, (size_t)width * 4, stdin);
		compositerow(in, width, background, out);
		xfwrite(out, 1, (size_t)width * 3, stdout);
	}

	return closestream(stdout, "<stdout>");
}
