#ifndef JPEG_WIDENSCANLINE_H_
#define JPEG_WIDENSCANLINE_H_

#include <stdint.h>
#include <stdio.h>
#include <jpeglib.h>

/*
 * The decoder's output: where the library has them, 4 bytes a pixel with
 * 0xff in the fourth, so that doubling every byte makes a kelvorin pixel,
 * opaque; else plain RGB.
 */
#ifdef JCS_ALPHA_EXTENSIONS
#define SCANLINESPACE	JCS_EXT_RGBA
#define SCANLINEPIXEL	4
#else
#define SCANLINESPACE	JCS_RGB
#define SCANLINEPIXEL	3
#endif

/* A decoded row of width pixels, SCANLINEPIXEL bytes each, to kelvorin. */
void	widenscanline(const unsigned char *, uint32_t, unsigned char *);

/* The same from 3 bytes a pixel, as the plain library delivers them. */
void	widenrgb(const unsigned char *, uint32_t, unsigned char *);

#endif
