#ifndef JPEG_JPEGFAIL_H_
#define JPEG_JPEGFAIL_H_

#include <stdio.h>
#include <jpeglib.h>

/* libjpeg's error_exit; never returns to the library. */
[[noreturn]] void jpegfail(j_common_ptr);

#endif
