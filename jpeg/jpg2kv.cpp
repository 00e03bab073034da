#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <jpeglib.h>

#include "common/common.h"
#include "jpeg/jpegfail.h"

const char ownname[] = "jpg2kv";

int
main(int argc, char *argv[])
{
	struct jpeg_decompress_struct object;
	struct jpeg_error_mgr manager;
	JSAMPROW rows[1];
	uint32_t width, height;
	unsigned char *row, *scanline;
	size_t i;

	programname = argv[0];
	if (argc != 1)
		fail("usage: %s", displayname());
	confine();

	/* In place before the object exists, so that creation fails through it. */
	object.err = jpeg_std_error(&manager);
	manager.error_exit = jpegfail;
	jpeg_create_decompress(&object);
	jpeg_stdio_src(&object, stdin);
	jpeg_read_header(&object, TRUE);
	width = object.image_width;
	height = object.image_height;
	object.out_color_space = JCS_RGB;
	jpeg_start_decompress(&object);

	row = (unsigned char *)xreallocarray(nullptr, width, 8);
	scanline = (unsigned char *)xreallocarray(nullptr, width, 3);
	writeheader(width, height);

	/*
	 * The stdio source never suspends, so every call delivers its row and
	 * its count need not be looked at; errors end in jpegfail.
	 */
	rows[0] = scanline;
	while (object.output_scanline < object.output_height) {
		jpeg_read_scanlines(&object, rows, 1);
		/* v × 257 is the byte v twice, in either byte order. */
		for (i = 0; i < width; i++) {
			unsigned char *out = row + i * 8;
			const unsigned char *in = scanline + i * 3;

			out[0] = out[1] = in[0];
			out[2] = out[3] = in[1];
			out[4] = out[5] = in[2];
			out[6] = out[7] = 0xff;
		}
		xfwrite(row, 2, (size_t)width * 4, stdout);
	}

	jpeg_finish_decompress(&object);
	jpeg_destroy_decompress(&object);

	return closestream(stdout, "<stdout>");
}
