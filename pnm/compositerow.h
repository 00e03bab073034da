#ifndef PNM_COMPOSITEROW_H_
#define PNM_COMPOSITEROW_H_

#include <stddef.h>
#include <stdint.h>

/*
 * Lays a row of width kelvorin pixels, as read, over the background and
 * writes width x 3 bytes of 8-bit RGB to output.
 */
void	compositerow(const unsigned char *input, uint32_t width,
	    const uint16_t background[3], unsigned char *output);

typedef void	compositerowfn(const unsigned char *, uint32_t,
		    const uint16_t[3], unsigned char *);

struct compositevariant {
	const char	*name;
	compositerowfn	*run;
	int		(*supported)(void);	/* by the CPU at hand */
};

/*
 * Every way of compositing a row, each giving the same bytes: the plain
 * reference first, the fastest last. compositerow runs the last one that
 * the CPU supports.
 */
extern const struct compositevariant compositevariants[];
extern const size_t ncompositevariants;

#endif
