#include "pnm/compositerow.h"

#include <stddef.h>

/* 65535 x 257: the mean in 16-bit units, taken to 8 bits in one step. */
#define DIVISOR	16842495

/*
 * Groups of three output bytes keep compilers from vectorising the
 * arithmetic on plain x86-64, so each block of pixels is composited into one
 * plane per channel first and interleaved afterwards.
 */
#define BLOCK	64

static inline uint32_t
sample(const unsigned char *p)
{
	return (uint32_t)p[0] << 8 | p[1];
}

void
compositerow(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	uint32_t red = background[0], green = background[1],
	    blue = background[2];
	unsigned char plane[3][BLOCK];
	size_t start, count, i;

	/* size_t: from 2^30 pixels on, the positions pass 32 bits. */
	for (start = 0; start < width; start += count) {
		const unsigned char *in = input + start * 8;
		unsigned char *out = output + start * 3;

		count = width - start < BLOCK ? width - start : BLOCK;
		for (i = 0; i < count; i++) {
			const unsigned char *p = in + i * 8;
			uint32_t alpha = sample(p + 6), rest = 65535 - alpha;

			/* At most 65535 x 65535: 32 bits hold the dividend. */
			plane[0][i] = (red * rest + sample(p) * alpha) / DIVISOR;
			plane[1][i] = (green * rest + sample(p + 2) * alpha) /
			    DIVISOR;
			plane[2][i] = (blue * rest + sample(p + 4) * alpha) /
			    DIVISOR;
		}
		for (i = 0; i < count; i++) {
			out[i * 3] = plane[0][i];
			out[i * 3 + 1] = plane[1][i];
			out[i * 3 + 2] = plane[2][i];
		}
	}
}
