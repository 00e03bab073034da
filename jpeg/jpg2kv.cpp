#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <jpeglib.h>

#include "common/common.h"
#include "jpeg/jpegfail.h"
#include "jpeg/widenscanline.h"

const char ownname[] = "jpg2kv";

int
main(int argc, char *argv[])
{
	struct jpeg_decompress_struct object;
	struct jpeg_error_mgr manager;
	JSAMPROW rows[1];
	uint32_t width, height;
	unsigned char *row, *scanline;

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
	object.out_color_space = SCANLINESPACE;
	jpeg_start_decompress(&object);

	row = (unsigned char *)xreallocarray(nullptr, width, 8);
	scanline = (unsigned char *)xreallocarray(nullptr, width,
	    SCANLINEPIXEL);
	writeheader(width, height);

	/*
	 * The stdio source never suspends, so every call delivers its row and
	 * its count need not be looked at; errors end in jpegfail.
	 */
	rows[0] = scanline;
	while (object.output_scanline < object.output_height) {
		jpeg_read_scanlines(&object, rows, 1);
		widenscanline(scanline, width, row);
		xfwrite(row, 2, (size_t)width * 4, stdout);
	}

	jpeg_finish_decompress(&object);
	jpeg_destroy_decompress(&object);

	return closestream(stdout, "<stdout>");
}
