#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

/*
 * When both factors are below 2^32 their product fits in 64 bits, so the
 * division is needed only when one of them is that large.
 */
#define NOOVERFLOW	((size_t)1 << (sizeof(size_t) * 4))

extern "C" void *
reallocarray(void *block, size_t count, size_t size)
{
	if ((count >= NOOVERFLOW || size >= NOOVERFLOW) &&
	    count != 0 && SIZE_MAX / count < size) {
		errno = ENOMEM;
		return nullptr;
	}
	return realloc(block, count * size);
}
