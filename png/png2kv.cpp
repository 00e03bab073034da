#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <png.h>

#include "common/common.h"
#include "png/pngfail.h"

const char ownname[] = "png2kv";

/*
 * Decodes the whole image into one block, whatever the header claims: a
 * size the allocator cannot grant is refused at once, before any image
 * data is read, and one it grants costs only the pages that the data fills.
 */
static png_bytepp
readimage(png_structp png, png_infop info)
{
	png_bytep image;
	png_bytepp rows;
	uint32_t height, y;
	size_t rowbytes;

	png_read_info(png, info);
	/* png_read_image would turn this on itself, but with a warning. */
	png_set_interlace_handling(png);
	png_read_update_info(png, info);

	height = png_get_image_height(png, info);
	rowbytes = png_get_rowbytes(png, info);
	image = (png_bytep)xreallocarray(nullptr, height, rowbytes);
	rows = (png_bytepp)xreallocarray(nullptr, height, sizeof *rows);
	for (y = 0; y < height; y++)
		rows[y] = image + y * rowbytes;
	png_read_image(png, rows);
	png_read_end(png, info);
	return rows;
}

int
main(int argc, char *argv[])
{
	png_structp png;
	png_infop info;
	png_bytepp rows;
	uint32_t width, height, y;
	unsigned char *row;
	size_t count;

	programname = argv[0];
	if (argc != 1)
		fail("usage: %s", displayname());
	confine();

	png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngfail,
	    nullptr);
	info = png_create_info_struct(png);
	if (png == nullptr || info == nullptr)
		fail("Failed to initialize libpng");
	png_init_io(png, stdin);
	png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
	png_set_expand_gray_1_2_4_to_8(png);
	png_set_gray_to_rgb(png);
	png_set_packing(png);
	png_set_expand(png);
	rows = readimage(png, info);

	width = png_get_image_width(png, info);
	height = png_get_image_height(png, info);
	/* In 32 bits, width * 4 would wrap from a width of 2^30 on. */
	count = (size_t)width * 4;

	row = (unsigned char *)xreallocarray(nullptr, width, 8);
	writeheader(width, height);

	switch (png_get_bit_depth(png, info)) {
	case 8:
		for (y = 0; y < height; y++) {
			widen(rows[y], count, row);
			xfwrite(row, 2, count, stdout);
		}
		break;
	case 16:
		/* libpng's 16-bit samples are big-endian, as ours are. */
		for (y = 0; y < height; y++)
			xfwrite(rows[y], 2, count, stdout);
		break;
	default:
		fail("Invalid bit-depth");
	}

	png_destroy_read_struct(&png, &info, nullptr);

	return closestream(stdout, "<stdout>");
}
