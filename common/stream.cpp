#include "common/common.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

/*
 * Standard input and output of the kelvorin data bypass stdio. Its stream
 * reads ahead, so the bytes after an image would be gone from a pipe, and
 * it splits a large row into several calls and copies part of it through
 * its own small buffer. Here the image is read exactly, and rows move in
 * large blocks or straight between the descriptor and the program's buffer.
 */

static unsigned char *inblock;
static size_t inhead, intail;	/* read ahead and not handed out yet */
static uint64_t inleft;		/* of the image, not read from descriptor 0 */
static int infailure;		/* errno of a failed read, -1 at the end */

static unsigned char *outblock;
static size_t outlength;
static int outerror;		/* the first failure on descriptor 1 */

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

static size_t
smaller(size_t a, uint64_t b)
{
	return b < a ? (size_t)b : a;
}

/*
 * One read of at most n bytes, n > 0. At the end of the input, or when the
 * read fails, 0, and the failure waits in infailure for failread: the rows
 * that did arrive are handed out first.
 */
static size_t
readsome(unsigned char *buffer, size_t n)
{
	ssize_t got;

	if (infailure != 0)
		return 0;
	while ((got = read(0, buffer, smaller(n, SSIZE_MAX))) == -1 &&
	    errno == EINTR)
		;
	if (got <= 0) {
		infailure = got == 0 ? -1 : errno;
		return 0;
	}
	inleft -= smaller(got, inleft);
	return got;
}

[[noreturn]] static void
failread(void)
{
	if (infailure == -1)
		fail("fread: Unexpected end of file");
	errno = infailure;
	fail("fread:");
}

/* n bytes, or fewer when the input ended or failed. */
static size_t
readin(unsigned char *buffer, size_t n)
{
	size_t take, done, limit, got;

	take = smaller(n, intail - inhead);
	if (take > 0) {
		memcpy(buffer, inblock + inhead, take);
		inhead += take;
	}
	done = take;
	if (done == n)
		return n;

	/*
	 * A large request, or one that takes the rest of the image, gains
	 * nothing from the block. Neither reads more than was asked for.
	 */
	if (n - done >= KVDIRECTSIZE || n - done >= inleft) {
		while (done < n && (got = readsome(buffer + done,
		    n - done)) > 0)
			done += got;
		return done;
	}

	/* Read ahead, but never past the image's last byte. */
	if (inblock == nullptr)
		inblock = (unsigned char *)xreallocarray(nullptr, KVBLOCKSIZE,
		    1);
	limit = smaller(KVBLOCKSIZE, inleft);
	inhead = intail = 0;
	while (intail < n - done && (got = readsome(inblock + intail,
	    limit - intail)) > 0)
		intail += got;
	take = smaller(n - done, intail);
	memcpy(buffer + done, inblock, take);
	inhead = take;
	return done + take;
}

/* 0, or -1 with errno set and noted. */
static int
writeall(const unsigned char *p, size_t n)
{
	ssize_t done;

	while (n > 0) {
		if ((done = write(1, p, smaller(n, SSIZE_MAX))) == -1) {
			if (errno == EINTR)
				continue;
			if (outerror == 0)
				outerror = errno;
			return -1;
		}
		p += done;
		n -= done;
	}
	return 0;
}

static int
flushout(void)
{
	size_t n = outlength;

	/* Written or lost: a block that failed is not tried again at exit. */
	outlength = 0;
	return writeall(outblock, n);
}

/* After fail, exit still delivers the rows written so far. */
static void
flushatexit(void)
{
	flushout();
}

/* 0, or -1 with errno set. */
static int
writeout(const unsigned char *p, size_t n)
{
	size_t take;

	if (n == 0)
		return 0;

	/*
	 * What stdio holds, a printed text header, was written before this
	 * and must go first; the block then never holds anything older than
	 * stdio's buffer, so the block is written first when both hold some.
	 */
	if (fflush(stdout) == EOF && outerror == 0)
		outerror = errno;

	if (n >= KVDIRECTSIZE) {
		if (outlength > 0 && flushout() != 0)
			return -1;
		return writeall(p, n);
	}
	if (outblock == nullptr) {
		outblock = (unsigned char *)xreallocarray(nullptr, KVBLOCKSIZE,
		    1);
		atexit(flushatexit);
	}
	while (n > 0) {
		take = smaller(KVBLOCKSIZE - outlength, n);
		memcpy(outblock + outlength, p, take);
		outlength += take;
		p += take;
		n -= take;
		if (outlength == KVBLOCKSIZE && flushout() != 0)
			return -1;
	}
	return 0;
}

void
readheader(uint32_t *width, uint32_t *height)
{
	unsigned char header[KVHEADERLEN];
	uint64_t area;

	xfread(header, 4, 4, stdin);
	if (memcmp(header, KVMAGIC, KVMAGICLEN) != 0)
		fail("Invalid magic value");
	*width = getbe32(header + 8);
	*height = getbe32(header + 12);

	/* 2^32 x 2^32 x 8 does not fit, and an image that large never ends. */
	area = (uint64_t)*width * *height;
	inleft = area > UINT64_MAX / 8 ? UINT64_MAX : area * 8;
}

void
writeheader(uint32_t width, uint32_t height)
{
	unsigned char field[4];

	/* A failed write is noted, and closestream reports it. */
	writeout((const unsigned char *)KVMAGIC, KVMAGICLEN);
	putbe32(field, width);
	xfwrite(field, 4, 1, stdout);
	putbe32(field, height);
	xfwrite(field, 4, 1, stdout);
}

void
xfread(void *buffer, size_t size, size_t count, FILE *stream)
{
	if (stream == stdin) {
		if (readin((unsigned char *)buffer, size * count) !=
		    size * count)
			failread();
		return;
	}
	if (fread(buffer, size, count, stream) == count)
		return;
	if (ferror(stream))
		fail("fread:");
	fail("fread: Unexpected end of file");
}

size_t
xreadrows(void *buffer, size_t size, size_t count)
{
	size_t rows;

	if (count > rowbatch(size))
		count = rowbatch(size);
	if (size == 0 || count == 0)
		return count;
	if ((rows = readin((unsigned char *)buffer, size * count) / size) == 0)
		failread();
	return rows;
}

size_t
rowbatch(size_t size)
{
	return size > 0 && size < KVBATCHSIZE ? KVBATCHSIZE / size : 1;
}

void
xfwrite(const void *buffer, size_t size, size_t count, FILE *stream)
{
	if (stream == stdout) {
		if (writeout((const unsigned char *)buffer, size * count) != 0)
			fail("fwrite:");
		return;
	}
	if (fwrite(buffer, size, count, stream) != count)
		fail("fwrite:");
}

int
closestream(FILE *stream, const char *name)
{
	int failed = 0;

	/* The block's bytes are older than anything stdio still holds. */
	if (stream == stdout)
		flushout();
	/* The indicator also holds the writes whose results nobody checked. */
	fflush(stream);
	if (ferror(stream) || (stream == stdout && outerror != 0)) {
		if (stream == stdout && outerror != 0)
			errno = outerror;
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
