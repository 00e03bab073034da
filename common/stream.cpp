#include "common/common.h"

#include <string.h>

static uint32_t
getbe32(const unsigned char *p)
{
	return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 |
	    (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

static void
putbe32(unsigned char *p, uint32_t value)
{
	p[0] = value >> 24;
	p[1] = value >> 16;
	p[2] = value >> 8;
	p[3] = value;
}

void
readheader(uint32_t *width, uint32_t *height)
{
	unsigned char header[KVHEADERLEN];

	xfread(header, 4, 4, stdin);
	if (memcmp(header, KVMAGIC, KVMAGICLEN) != 0)
		fail("Invalid magic value");
	*width = getbe32(header + 8);
	*height = getbe32(header + 12);
}

void
writeheader(uint32_t width, uint32_t height)
{
	unsigned char field[4];

	/* A failed write sets the error indicator, which closestream reports. */
	fputs(KVMAGIC, stdout);
	putbe32(field, width);
	xfwrite(field, 4, 1, stdout);
	putbe32(field, height);
	xfwrite(field, 4, 1, stdout);
}

void
xfread(void *buffer, size_t size, size_t count, FILE *stream)
{
	if (fread(buffer, size, count, stream) == count)
		return;
	if (ferror(stream))
		fail("fread:");
	fail("fread: Unexpected end of file");
}

void
xfwrite(const void *buffer, size_t size, size_t count, FILE *stream)
{
	if (fwrite(buffer, size, count, stream) != count)
		fail("fwrite:");
}

int
closestream(FILE *stream, const char *name)
{
	int failed = 0;

	/* The indicator also holds the writes whose results nobody checked. */
	fflush(stream);
	if (ferror(stream)) {
		warn("ferror '%s':", name);
		failed = 1;
	}
	if (fclose(stream) != 0 && !failed) {
		warn("fclose '%s':", name);
		failed = 1;
	}
	return failed;
}

void *
xreallocarray(void *block, size_t count, size_t size)
{
	void *p;

	if ((p = reallocarray(block, count, size)) == nullptr)
		fail("reallocarray: Out of memory");
	return p;
}
