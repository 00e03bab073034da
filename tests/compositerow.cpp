#include "pnm/compositerow.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/testutil.h"

/* A row of pixels as read from a stream: 16-bit big-endian samples. */
static std::vector<unsigned char>
rowbytes(const std::vector<pixel> &pixels)
{
	std::vector<unsigned char> row;

	for (const pixel &p : pixels)
		for (uint16_t sample : p) {
			row.push_back(sample >> 8);
			row.push_back(sample & 0xff);
		}
	return row;
}

static std::vector<unsigned char>
composite(const std::vector<pixel> &pixels, const uint16_t background[3])
{
	std::vector<unsigned char> in = rowbytes(pixels);
	/* One byte more than the row, which must stay as it was. */
	std::vector<unsigned char> out(pixels.size() * 3 + 1, 0xa5);

	compositerow(in.data(), (uint32_t)pixels.size(), background,
	    out.data());
	EXPECT_EQ(out.back(), 0xa5);
	out.pop_back();
	return out;
}

TEST(compositerow, Examples)
{
	static const struct {
		const char *name;
		pixel p;
		uint16_t background[3];
		unsigned char red, green, blue;
	} cases[] = {
		{"opaque red over white", {65535, 0, 0, 65535},
		    {65535, 65535, 65535}, 255, 0, 0},
		{"opaque red over black", {65535, 0, 0, 65535}, {0, 0, 0},
		    255, 0, 0},
		{"opaque red over a colour", {65535, 0, 0, 65535},
		    {1234, 40000, 777}, 255, 0, 0},
		{"transparent over white", {0, 0, 0, 0}, {65535, 65535, 65535},
		    255, 255, 255},
		{"transparent over black", {0, 0, 0, 0}, {0, 0, 0}, 0, 0, 0},
		{"its own colour ignored", {65535, 4660, 999, 0},
		    {0, 65535, 32896}, 0, 255, 128},
		{"half white over black", {65535, 65535, 65535, 32768},
		    {0, 0, 0}, 127, 127, 127},
		{"half black over white", {0, 0, 0, 32768},
		    {65535, 65535, 65535}, 127, 127, 127},
		{"opaque, truncated", {256, 65534, 258, 65535}, {0, 0, 0}, 0,
		    254, 1},
		{"transparent, truncated background", {0, 0, 0, 0},
		    {256, 257, 65534}, 0, 1, 254},
		/* Read big-endian: ff 00 is 65280, not 255. */
		{"byte order", {0xff00, 0x00ff, 0x0100, 65535}, {0, 0, 0}, 254,
		    0, 0},
		{"alpha 1 over white", {0, 0, 0, 1}, {65535, 65535, 65535},
		    254, 254, 254},
		{"alpha 65534 over white", {0, 0, 0, 65534},
		    {65535, 65535, 65535}, 0, 0, 0},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<unsigned char> out = composite({c.p}, c.background);
		EXPECT_EQ(out, (std::vector<unsigned char>{c.red, c.green,
		    c.blue}));
	}
}

TEST(compositerow, OpaqueWidenedSamplesComeBack)
{
	static const uint16_t backgrounds[][3] = {{0, 0, 0},
	    {65535, 65535, 65535}, {1, 30000, 65534}};
	std::vector<pixel> pixels;
	std::vector<unsigned char> want;

	for (unsigned v = 0; v < 256; v++) {
		pixels.push_back({(uint16_t)(v * 257), (uint16_t)(v * 257),
		    (uint16_t)((255 - v) * 257), 65535});
		want.insert(want.end(), {(unsigned char)v, (unsigned char)v,
		    (unsigned char)(255 - v)});
	}
	for (const auto &background : backgrounds) {
		SCOPED_TRACE(background[1]);
		EXPECT_EQ(composite(pixels, background), want);
	}
}

TEST(compositerow, RandomPixelsFollowTheFormula)
{
	std::mt19937 random(20261210);
	std::uniform_int_distribution<unsigned> sample(0, 65535);
	static const uint32_t widths[] = {1, 2, 3, 31, 63, 64, 65, 127, 128,
	    129, 1000, 4099};

	for (uint32_t width : widths) {
		SCOPED_TRACE(width);
		uint16_t background[3];
		for (uint16_t &b : background)
			b = (uint16_t)sample(random);
		std::vector<pixel> pixels(width);
		std::vector<unsigned char> want;
		for (pixel &p : pixels) {
			for (uint16_t &s : p)
				s = (uint16_t)sample(random);
			for (int c = 0; c < 3; c++)
				want.push_back(composited(background[c], p[c],
				    p[3]));
		}
		EXPECT_EQ(composite(pixels, background), want);
	}
}

TEST(compositerow, WidthZeroTouchesNothing)
{
	const uint16_t background[3] = {0, 0, 0};
	unsigned char in[8], out[3];

	memset(in, 0x5a, sizeof in);
	memset(out, 0xa5, sizeof out);
	compositerow(in, 0, background, out);
	for (unsigned char byte : in)
		EXPECT_EQ(byte, 0x5a);
	for (unsigned char byte : out)
		EXPECT_EQ(byte, 0xa5);
}

/*
 * Maps count copies of the memory file fd, each length bytes, one after
 * another in one range of the address space, and returns the range.
 */
static unsigned char *
aliases(size_t count, size_t length, int fd)
{
	void *range = mmap(nullptr, count * length, PROT_NONE,
	    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);

	if (range == MAP_FAILED)
		return nullptr;
	for (size_t i = 0; i < count; i++)
		if (mmap((unsigned char *)range + i * length, length,
		    PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) ==
		    MAP_FAILED)
			return nullptr;
	return (unsigned char *)range;
}

static int
memoryfile(size_t length)
{
	int fd = memfd_create("row", MFD_CLOEXEC);

	if (fd >= 0 && ftruncate(fd, length) != 0) {
		close(fd);
		fd = -1;
	}
	return fd;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SANITIZED
#endif

TEST(compositerow, PositionsPastThirtyTwoBits)
{
#ifdef SANITIZED
	/*
	 * Instrumented, the 1.4 billion pixels take minutes; and the memory
	 * files are shared mappings, whose bounds the sanitizer does not know.
	 */
	GTEST_SKIP() << "too slow under AddressSanitizer";
#endif
	/*
	 * A row wide enough that the input positions pass 2^32 (from 2^30
	 * pixels on) and so do the output positions (from 2^32 / 3 on). Both
	 * rows are made of aliases of one small part each, so that only the
	 * parts cost memory; the last part of each has a memory file of its
	 * own, so that a position cut to 32 bits reads or writes another.
	 */
	const size_t part = (size_t)1 << 20, parts = 1366;
	const size_t width = part * parts;
	const uint16_t background[3] = {65535, 0, 32896};
	ASSERT_GT(width * 3, (size_t)1 << 32);
	ASSERT_LT(width, (size_t)1 << 32);

	int early = memoryfile(part * 8), late = memoryfile(part * 8);
	int front = memoryfile(part * 3), back = memoryfile(part * 3);
	ASSERT_TRUE(early >= 0 && late >= 0 && front >= 0 && back >= 0);
	unsigned char *in = aliases(parts, part * 8, early);
	unsigned char *out = aliases(parts, part * 3, front);
	ASSERT_NE(in, nullptr);
	ASSERT_NE(out, nullptr);
	unsigned char *lastin = in + (parts - 1) * part * 8;
	unsigned char *lastout = out + (parts - 1) * part * 3;
	ASSERT_NE(mmap(lastin, part * 8, PROT_READ | PROT_WRITE,
	    MAP_SHARED | MAP_FIXED, late, 0), MAP_FAILED);
	ASSERT_NE(mmap(lastout, part * 3, PROT_READ | PROT_WRITE,
	    MAP_SHARED | MAP_FIXED, back, 0), MAP_FAILED);

	/* Transparent pixels everywhere but in the last part, opaque there. */
	std::vector<pixel> pixels(part);
	std::vector<unsigned char> want;
	for (size_t x = 0; x < part; x++) {
		pixels[x] = {(uint16_t)(x * 257), (uint16_t)(x * 7 + 1),
		    (uint16_t)(x >> 4), 65535};
		for (int c = 0; c < 3; c++)
			want.push_back(composited(0, pixels[x][c], 65535));
	}
	std::vector<unsigned char> row = rowbytes(pixels);
	memcpy(lastin, row.data(), row.size());
	memset(lastout, 0x5a, part * 3);

	compositerow(in, (uint32_t)width, background, out);

	EXPECT_EQ(memcmp(lastout, want.data(), want.size()), 0);
	std::vector<unsigned char> plain;
	for (size_t x = 0; x < part; x++)
		plain.insert(plain.end(), {255, 0, 128});
	EXPECT_EQ(memcmp(out, plain.data(), plain.size()), 0);

	munmap(in, parts * part * 8);
	munmap(out, parts * part * 3);
	close(early);
	close(late);
	close(front);
	close(back);
}
