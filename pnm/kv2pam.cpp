#include <stdint.h>
#include <stdio.h>

#include "common/common.h"

const char ownname[] = "kv2pam";

int
main(int argc, char *argv[])
{
	uint32_t width, height, y, n;
	size_t size;
	unsigned char *rows;

	programname = argv[0];
	if (argc != 1)
		fail("usage: %s", displayname());
	confine();

	readheader(&width, &height);

	/* Rows move a batch's worth at a time, straight through. */
	size = (size_t)width * 8;
	rows = (unsigned char *)xreallocarray(nullptr, rowbatch(size), size);
	printf("P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 65535\n"
	    "TUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);

	/* The rows of a zero-width image are empty, however many it claims. */
	if (width == 0)
		height = 0;
	for (y = 0; y < height; y += n) {
		n = xreadrows(rows, size, height - y);
		xfwrite(rows, size, n, stdout);
	}

	return closestream(stdout, "<stdout>");
}
