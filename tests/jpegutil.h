#ifndef TESTS_JPEGUTIL_H_
#define TESTS_JPEGUTIL_H_

#include <stdint.h>
#include <stdio.h>
#include <jpeglib.h>

#include <functional>
#include <string>

/* How a fixture is encoded. */
struct jpegsettings {
	uint32_t width;
	uint32_t height;
	/*
	 * The colour space stored in the datastream: JCS_YCbCr and JCS_RGB
	 * take three samples per pixel, JCS_GRAYSCALE one, JCS_CMYK and
	 * JCS_YCCK four.
	 */
	J_COLOR_SPACE space;
	int quality;
	int hsampling;		/* of the first component; the others are 1 x 1 */
	int vsampling;
	bool progressive;
};

/* Sample c of the pixel at x, y of a fixture's source. */
typedef std::function<uint8_t(uint32_t x, uint32_t y, int c)> samplesource;

/* A sample source that varies every sample with x, y and c. */
uint8_t		patternsample(uint32_t x, uint32_t y, int c);

/* A JPEG datastream made by libjpeg's compressor. */
std::string	jpegimage(const jpegsettings &settings,
		    const samplesource &source = patternsample);

/* What libjpeg makes of a datastream when asked for RGB and nothing else. */
struct jpegdecoded {
	uint32_t width;
	uint32_t height;
	std::string rgb;	/* 3 bytes a pixel, rows top first */
	std::string warnings;	/* as the library writes them to stderr */
	std::string error;	/* the message that ended decoding, else empty */
};

jpegdecoded	jpegdecode(const std::string &data);

/*
 * Offset of the marker segment with this code among those before the
 * entropy-coded data (SOS included), found by walking the segment lengths;
 * npos when there is none.
 */
size_t		jpegsegment(const std::string &data, unsigned char code);

/* The library's own text for a message code and its one number. */
std::string	jpegmessage(int code, int parameter = 0);

#endif
