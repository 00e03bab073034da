/*
 * decodeonly < photo.jpg
 *
 * Decodes a JPEG from standard input as jpg2kv asks libjpeg to, in the same
 * colour space and a row at a time, and throws the rows away: the library's
 * share of jpg2kv, which no change of ours can take below. bench/run times
 * it against jpg2kv and against convert, so that a row whose goal lies under
 * it shows as out of reach rather than as slow.
 */
#include <stdio.h>
#include <stdlib.h>
#include <jpeglib.h>

#include "jpeg/widenscanline.h"

int
main(void)
{
	struct jpeg_decompress_struct object;
	struct jpeg_error_mgr manager;
	JSAMPROW rows[1];

	/* The library's own error_exit prints its message and exits. */
	object.err = jpeg_std_error(&manager);
	jpeg_create_decompress(&object);
	jpeg_stdio_src(&object, stdin);
	jpeg_read_header(&object, TRUE);
	object.out_color_space = SCANLINESPACE;
	jpeg_start_decompress(&object);
	if ((rows[0] = (JSAMPROW)calloc(object.output_width,
	    SCANLINEPIXEL)) == nullptr) {
		fputs("decodeonly: out of memory\n", stderr);
		return 1;
	}
	while (object.output_scanline < object.output_height)
		jpeg_read_scanlines(&object, rows, 1);
	jpeg_finish_decompress(&object);
	jpeg_destroy_decompress(&object);
	free(rows[0]);
	return 0;
}
