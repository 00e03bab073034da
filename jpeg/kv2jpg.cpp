#include <stdint.h>
#include <stdio.h>
#include <jpeglib.h>

#include "common/common.h"
#include "jpeg/jpegfail.h"
#include "pnm/compositerow.h"

const char ownname[] = "kv2jpg";

[[noreturn]] static void
showusage(void)
{
	fail("usage: %s [-b colour] [-o] [-q quality]", displayname());
}

int
main(int argc, char *argv[])
{
	uint16_t background[3] = {65535, 65535, 65535};
	struct jpeg_compress_struct object;
	struct jpeg_error_mgr manager;
	struct optionscan scan;
	JSAMPROW rows[1];
	size_t size, n, i;
	uint32_t width, height, y;
	unsigned char *in, *out;
	const char *value;
	int letter, quality = 85;
	bool optimise = false;

	programname = argv[0];

	startoptions(&scan, argc, argv);
	while ((letter = nextoption(&scan)) != 0) {
		switch (letter) {
		case 'b':
			if ((value = optionvalue(&scan)) == nullptr ||
			    parsecolour(value, background) != 0)
				showusage();
			break;
		case 'o':
			optimise = true;
			break;
		case 'q':
			if ((value = optionvalue(&scan)) == nullptr)
				showusage();
			quality = (int)xstrtonum(value, 0, 100);
			break;
		default:
			showusage();
		}
	}
	if (scan.remaining != 0)
		showusage();
	confine();

	readheader(&width, &height);

	object.err = jpeg_std_error(&manager);
	manager.error_exit = jpegfail;
	jpeg_create_compress(&object);
	jpeg_stdio_dest(&object, stdout);
	/* jpeg_set_defaults chooses its defaults by the input colour space. */
	object.image_width = width;
	object.image_height = height;
	object.input_components = 3;
	object.in_color_space = JCS_RGB;
	jpeg_set_defaults(&object);
	/* After jpeg_set_defaults, which sets the field itself. */
	if (optimise)
		object.optimize_coding = TRUE;
	jpeg_set_quality(&object, quality, TRUE);
	jpeg_start_compress(&object, TRUE);

	/* Only now: libjpeg has refused the dimensions it cannot encode. */
	size = (size_t)width * 8;
	in = (unsigned char *)xreallocarray(nullptr, rowbatch(size), size);
	out = (unsigned char *)xreallocarray(nullptr, width, 3);

	/*
	 * Rows come a batch's worth at a time, as in the PNM programs: a read
	 * call per row made the whole program 3 to 10 % slower. The stdio
	 * destination never suspends, so every call takes its row and its
	 * count need not be looked at; errors end in jpegfail.
	 */
	rows[0] = out;
	for (y = 0; y < height; y += n) {
		n = xreadrows(in, size, height - y);
		for (i = 0; i < n; i++) {
			compositerow(in + i * size, width, background, out);
			jpeg_write_scanlines(&object, rows, 1);
		}
	}

	jpeg_finish_compress(&object);
	jpeg_destroy_compress(&object);

	return closestream(stdout, "<stdout>");
}
