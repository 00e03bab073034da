#ifndef PNM_COMPOSITEROW_H_
#define PNM_COMPOSITEROW_H_

#include <stdint.h>

/*
 * Lays a row of width kelvorin pixels, as read, over the background and
 * writes width x 3 bytes of 8-bit RGB to output.
 */
void	compositerow(const unsigned char *input, uint32_t width,
	    const uint16_t background[3], unsigned char *output);

#endif
