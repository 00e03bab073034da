/*
 * Writes the picture of examples/sample.png as a kelvorin image: 48 x 32
 * pixels of colour gradients with a disc that fades from opaque to
 * transparent, so that every converter has both colour and alpha to carry.
 */
#include <stdint.h>
#include <stdio.h>

static void
put16(unsigned value)
{
	putchar(value >> 8 & 0xff);
	putchar(value & 0xff);
}

static void
put32(uint32_t value)
{
	put16(value >> 16);
	put16(value & 0xffff);
}

int
main(void)
{
	const uint32_t width = 48, height = 32;
	uint32_t x, y;

	fputs("kelvorin", stdout);
	put32(width);
	put32(height);
	for (y = 0; y < height; y++) {
		for (x = 0; x < width; x++) {
			long dx = (long)x - 24, dy = (long)y - 16;
			long inside = 15 * 15 - (dx * dx + dy * dy);
			unsigned alpha;

			if (inside <= 0)
				alpha = x < width / 2 ? 0 : 65535;
			else
				alpha = 65535 - (unsigned)(inside * 65535 / 225);
			put16(x * 65535 / (width - 1));
			put16(y * 65535 / (height - 1));
			put16((width - 1 - x) * 65535 / (width - 1));
			put16(alpha);
		}
	}
	return fflush(stdout) != 0 || ferror(stdout);
}
