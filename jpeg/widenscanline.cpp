#include "jpeg/widenscanline.h"

#include <stddef.h>

#include "common/common.h"

void
widenscanline(const unsigned char *scanline, uint32_t width,
    unsigned char *row)
{
#ifdef JCS_ALPHA_EXTENSIONS
	widen(scanline, (size_t)width * 4, row);
#else
	widenrgb(scanline, width, row);
#endif
}

void
widenrgb(const unsigned char *rgb, uint32_t width, unsigned char *row)
{
	size_t i;

	/* v × 257 is the byte v twice, in either byte order. */
	for (i = 0; i < width; i++) {
		unsigned char *out = row + i * 8;
		const unsigned char *in = rgb + i * 3;

		out[0] = out[1] = in[0];
		out[2] = out[3] = in[1];
		out[4] = out[5] = in[2];
		out[6] = out[7] = 0xff;
	}
}
