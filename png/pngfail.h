#ifndef PNG_PNGFAIL_H_
#define PNG_PNGFAIL_H_

#include <png.h>

/* libpng's error function; never returns, so libpng needs no jump buffer. */
[[noreturn]] void pngfail(png_structp, png_const_charp);

#endif
