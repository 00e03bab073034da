#include "png/pngfail.h"

#include <png.h>

#include "common/common.h"

void
pngfail(png_structp, png_const_charp message)
{
	fail("libpng: %s", message);
}
