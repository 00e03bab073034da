#ifndef TESTS_PNGUTIL_H_
#define TESTS_PNGUTIL_H_

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include <png.h>

/* A PNG image described by its own samples, before any decoding. */
struct pngpicture {
	uint32_t width;
	uint32_t height;
	int colourtype;		/* PNG_COLOR_TYPE_GRAY and so on */
	int depth;
	bool interlaced;
	/* Row-major, pngchannels(colourtype) samples (or one index) a pixel. */
	std::vector<uint16_t> samples;
	std::vector<std::array<uint8_t, 3>> palette;
	std::vector<uint8_t> palettealpha;	/* a palette image's tRNS */
	bool transparent;	/* a grey or RGB image's tRNS */
	std::array<uint16_t, 3> transparentcolour;	/* grey in [0] */
};

/* Samples a pixel in the PNG's own colour type; 1 for a palette. */
int		pngchannels(int colourtype);

/* The PNG that libpng's write interface makes of p. */
std::string	writepng(const pngpicture &p);

struct pngchunk {
	std::string type;
	std::string data;
	bool crcok;
};

/* The eight bytes that open every PNG. */
std::string	pngsignature(void);

/* A chunk with its length and a correct CRC. */
std::string	makechunk(const std::string &type, const std::string &data);

/* An IHDR chunk with the fields as given. */
std::string	makeihdr(uint32_t width, uint32_t height, int depth,
		    int colourtype, int interlace);

/*
 * A PNG whose header claims the image described, while its image data is
 * only the few bytes that compress() makes of 16 zero bytes.  A palette
 * image gets a PLTE chunk of black entries before it.
 */
std::string	claimingpng(uint32_t width, uint32_t height, int depth,
		    int colourtype, int interlace);

/*
 * The chunks after the signature, in order; walking stops after IEND, at
 * the end of the data, or at a chunk that the data cuts short.  *end is
 * where the walk stopped.
 */
std::vector<pngchunk>	pngchunks(const std::string &png, size_t *end);

/* What libpng reads from a PNG without any transformation. */
struct decodedpng {
	uint32_t width;
	uint32_t height;
	int depth;
	int colourtype;
	int interlace;
	std::string pixels;	/* the rows, as libpng gives them */
};

decodedpng	readpng(const std::string &png);

/*
 * Checks that err is the line last, after one or more of libpng's own
 * warning lines when warns is set, or alone when it is not.
 */
void		checkdiagnostic(const std::string &err,
		    const std::string &last, bool warns);

#endif
