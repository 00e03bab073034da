#include <stdint.h>
#include <stdio.h>

#include <png.h>

#include "common/common.h"
#include "png/pngfail.h"

const char ownname[] = "kv2png";

int
main(int argc, char *argv[])
{
	png_structp png;
	png_infop info;
	size_t size, n, i;
	uint32_t width, height, y;
	unsigned char *rows;

	programname = argv[0];
	if (argc != 1)
		fail("usage: %s", displayname());
	confine();

	readheader(&width, &height);

	png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngfail,
	    nullptr);
	info = png_create_info_struct(png);
	if (png == nullptr || info == nullptr)
		fail("Failed to initialize libpng");
	png_init_io(png, stdout);
	png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_RGB_ALPHA,
	    PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
	    PNG_FILTER_TYPE_BASE);
	png_write_info(png, info);

	size = (size_t)width * 8;
	rows = (unsigned char *)xreallocarray(nullptr, rowbatch(size), size);

	/* A kelvorin row is already a 16-bit RGBA PNG row, byte for byte. */
	for (y = 0; y < height; y += n) {
		n = xreadrows(rows, size, height - y);
		for (i = 0; i < n; i++)
			png_write_row(png, rows + i * size);
	}

	/* No info object: nothing but IEND may follow the image data. */
	png_write_end(png, nullptr);
	png_destroy_write_struct(&png, nullptr);

	return closestream(stdout, "<stdout>");
}
