#include <stdint.h>
#include <stdio.h>

#include "common/common.h"

const char ownname[] = "kv2pam";

int
main(int argc, char *argv[])
{
	uint32_t width, height, y;
	unsigned char *row;

	programname = argv[0];
	if (argc != 1)
		fail("usage: %s", displayname());
	confine();

	readheader(&width, &height);

	row = (unsigned char *)xreallocarray(nullptr, width, 8);
	printf("P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 65535\n"
	    "TUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);

	/* The rows of a zero-width image are empty, however many it claims. */
	if (width == 0)
		height = 0;
	for (y = 0; y < height; y++) {
		xfread(row, 2, (size_t)width * 4, stdin);
		xfwrite(row, 2, (size_t)width * 4, stdout);
	}

	return closestream(stdout, "<stdout>");
}
