#include "pnm/compositerow.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
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
	std::vector<unsigned char> plain;
	for (size_t x = 0; x < part; x++)
		plain.insert(plain.end(), {255, 0, 128});

	for (size_t v = 0; v < ncompositevariants; v++) {
		if (!compositevariants[v].supported())
			continue;
		SCOPED_TRACE(compositevariants[v].name);
		memset(out, 0x5a, part * 3);
		memset(lastout, 0x5a, part * 3);

		compositevariants[v].run(in, (uint32_t)width, background, out);

		EXPECT_EQ(memcmp(lastout, want.data(), want.size()), 0);
		EXPECT_EQ(memcmp(out, plain.data(), plain.size()), 0);
	}

	munmap(in, parts * part * 8);
	munmap(out, parts * part * 3);
	close(early);
	close(late);
	close(front);
	close(back);
}

/* The output bytes of the formula for each pixel. */
static std::vector<unsigned char>
formula(const std::vector<pixel> &pixels, const uint16_t background[3])
{
	std::vector<unsigned char> want;

	for (const pixel &p : pixels)
		for (int c = 0; c < 3; c++)
			want.push_back(composited(background[c], p[c], p[3]));
	return want;
}

/* Bytes around the output that no variant may touch. */
#define GUARD	32

/*
 * The row through one variant, read from inshift bytes into a buffer that
 * ends with the row, so that the sanitizer sees any read past it, and
 * written outshift bytes into a buffer with guard bytes on both sides.
 */
static std::vector<unsigned char>
runvariant(const compositevariant &v, const std::vector<unsigned char> &row,
    size_t inshift, size_t outshift, const uint16_t background[3])
{
	size_t width = row.size() / 8;
	std::vector<unsigned char> in(inshift + row.size(), 0x5a);
	std::vector<unsigned char> out(GUARD + outshift + width * 3 + GUARD,
	    0xa5);

	std::copy(row.begin(), row.end(), in.begin() + inshift);
	v.run(in.data() + inshift, (uint32_t)width, background,
	    out.data() + GUARD + outshift);
	size_t begin = GUARD + outshift, end = begin + width * 3;
	for (size_t i = 0; i < out.size(); i++)
		if ((i < begin || i >= end) && out[i] != 0xa5)
			ADD_FAILURE() << "guard byte " << (long)(i - begin) <<
			    " written";
	for (size_t i = 0; i < inshift; i++)
		EXPECT_EQ(in[i], 0x5a);
	EXPECT_TRUE(std::equal(row.begin(), row.end(),
	    in.begin() + inshift)) << "input changed";
	return std::vector<unsigned char>(out.begin() + begin,
	    out.begin() + end);
}

/* The variants that this CPU can run, the plain one among them. */
static std::vector<const compositevariant *>
runnable(void)
{
	std::vector<const compositevariant *> list;

	for (size_t i = 0; i < ncompositevariants; i++)
		if (compositevariants[i].supported())
			list.push_back(&compositevariants[i]);
	return list;
}

TEST(compositerowvariants, PlainOneComesFirstAndRuns)
{
	ASSERT_GE(ncompositevariants, (size_t)1);
	EXPECT_STREQ(compositevariants[0].name, "plain");
	EXPECT_TRUE(compositevariants[0].supported());
	for (const compositevariant *v : runnable())
		std::cout << "[ variant  ] " << v->name << "\n";
}

/*
 * For each alpha, the samples just below, at and just past every sample
 * at which the quotient steps up over this background.
 */
class compositerowboundaries : public testing::TestWithParam<uint16_t> {
};

/*
 * Puts a pixel into the row as read, big-endian, and what the formula
 * makes of it over the background into want; raw buffers, because this
 * test builds millions of pixels and must stay quick unoptimised.
 */
static void
putpixel(const pixel &p, const uint16_t background[3], unsigned char *row,
    unsigned char *want)
{
	const uint16_t *samples = p.data();

	for (int c = 0; c < 4; c++) {
		row[c * 2] = samples[c] >> 8;
		row[c * 2 + 1] = samples[c] & 0xff;
	}
	for (int c = 0; c < 3; c++)
		want[c] = composited(background[c], samples[c], samples[3]);
}

TEST_P(compositerowboundaries, EveryAlphaEveryQuotient)
{
	const uint16_t b = GetParam();
	const uint16_t background[3] = {b, b, b};
	const std::vector<const compositevariant *> variants = runnable();
	/* At most 256 steps and one more pixel. */
	std::vector<unsigned char> row(257 * 8), want(257 * 3), got(257 * 3);
	unsigned failed = 0;

	for (uint32_t a = 0; a <= 65535 && failed < 5; a++) {
		uint64_t base = (uint64_t)b * (65535 - a);
		uint64_t first = base / 16842495;
		uint64_t last = (base + (uint64_t)65535 * a) / 16842495;
		uint32_t width = 0;

		putpixel({0, 65535, (uint16_t)(a * 7), (uint16_t)a},
		    background, row.data(), want.data());
		width++;
		for (uint64_t k = first + 1; k <= last; k++, width++) {
			/* The least sample whose quotient is k. */
			uint64_t s = (k * 16842495 - base + a - 1) / a;
			uint16_t next = (uint16_t)(s < 65535 ? s + 1 : s);
			unsigned char *w = want.data() + width * 3;

			putpixel({(uint16_t)(s - 1), (uint16_t)s, next,
			    (uint16_t)a}, background, row.data() + width * 8,
			    w);
			/* The fixture is what it claims to be. */
			if (w[0] != k - 1 || w[1] != k)
				FAIL() << "no step at " << s << ", alpha " << a;
		}
		for (const compositevariant *v : variants) {
			v->run(row.data(), width, background, got.data());
			if (memcmp(got.data(), want.data(), width * 3) != 0) {
				ADD_FAILURE() << v->name << ", alpha " << a;
				failed++;
			}
		}
	}
}

INSTANTIATE_TEST_SUITE_P(compositerow, compositerowboundaries,
    testing::Values(0, 1, 256, 257, 32768, 65534, 65535));

enum rowkind {
	RANDOM,		/* every sample random */
	OPAQUE,		/* random colours, alpha 65535 */
	MIXED		/* half the pixels opaque, a few transparent */
};

static pixel
randompixel(std::mt19937 &random, rowkind kind)
{
	std::uniform_int_distribution<unsigned> sample(0, 65535);
	pixel p;

	for (uint16_t &s : p)
		s = (uint16_t)sample(random);
	if (kind == OPAQUE || (kind == MIXED && p[3] % 2 == 0))
		p[3] = 65535;
	else if (kind == MIXED && p[3] % 8 == 1)
		p[3] = 0;
	return p;
}

TEST(compositerowvariants, RandomRowsEveryLengthAndShift)
{
	static const rowkind kinds[] = {RANDOM, OPAQUE, MIXED};
	const std::vector<const compositevariant *> variants = runnable();
	std::mt19937 random(20261211);
	std::uniform_int_distribution<unsigned> sample(0, 65535);

	for (size_t width = 0; width <= 70; width++)
		for (rowkind kind : kinds)
			for (size_t inshift = 0; inshift < 8; inshift++)
				for (size_t outshift = 0; outshift < 4;
				    outshift++) {
					SCOPED_TRACE(testing::Message() <<
					    "width " << width << ", kind " <<
					    kind << ", shifts " << inshift <<
					    " " << outshift);
					uint16_t background[3];
					for (uint16_t &b : background)
						b = (uint16_t)sample(random);
					std::vector<pixel> pixels(width);
					for (pixel &p : pixels)
						p = randompixel(random, kind);
					std::vector<unsigned char> row =
					    rowbytes(pixels);
					std::vector<unsigned char> want =
					    formula(pixels, background);
					for (const compositevariant *v :
					    variants) {
						SCOPED_TRACE(v->name);
						ASSERT_EQ(runvariant(*v, row,
						    inshift, outshift,
						    background), want);
					}
				}
}

TEST(compositerowvariants, LongRows)
{
	static const size_t widths[] = {255, 256, 257, 1000, 5120};
	const std::vector<const compositevariant *> variants = runnable();
	std::mt19937 random(20261212);
	const uint16_t background[3] = {65535, 32768, 1};

	for (size_t width : widths)
		for (rowkind kind : {RANDOM, OPAQUE, MIXED}) {
			SCOPED_TRACE(testing::Message() << "width " << width <<
			    ", kind " << kind);
			std::vector<pixel> pixels(width);
			for (pixel &p : pixels)
				p = randompixel(random, kind);
			std::vector<unsigned char> row = rowbytes(pixels);
			std::vector<unsigned char> want = formula(pixels,
			    background);
			for (const compositevariant *v : variants) {
				SCOPED_TRACE(v->name);
				EXPECT_EQ(runvariant(*v, row, 1, 1, background),
				    want);
			}
		}
}

/*
 * A run of opaque pixels may take a shortcut only while every pixel in it
 * is opaque: one translucent pixel anywhere in the row must be composited.
 */
TEST(compositerowvariants, OpaqueRunBrokenAtEveryPosition)
{
	static const uint16_t breakers[] = {0, 1, 32768, 65534};
	static const size_t widths[] = {8, 16, 70};
	const std::vector<const compositevariant *> variants = runnable();
	const uint16_t background[3] = {0, 65535, 12345};
	std::mt19937 random(20261213);

	for (size_t width : widths) {
		std::vector<pixel> opaque(width);
		for (pixel &p : opaque)
			p = randompixel(random, OPAQUE);
		for (size_t at = 0; at < width; at++)
			for (uint16_t alpha : breakers) {
				SCOPED_TRACE(testing::Message() << "width " <<
				    width << ", alpha " << alpha << " at " <<
				    at);
				std::vector<pixel> pixels = opaque;
				pixels[at][3] = alpha;
				std::vector<unsigned char> row =
				    rowbytes(pixels);
				std::vector<unsigned char> want =
				    formula(pixels, background);
				for (const compositevariant *v : variants) {
					SCOPED_TRACE(v->name);
					ASSERT_EQ(runvariant(*v, row, 0, 0,
					    background), want);
				}
			}
	}
}

/*
 * What the vector variants compute in place of the division:
 * ((x + 1 + (x >> 16)) >> 16) x 65281 >> 24 in 32 bits, for x up to
 * 65535 x 65535. Checked at every step of the quotient and at random here;
 * every x was checked once by an exhaustive run.
 */
static uint32_t
shifted(uint32_t x)
{
	return (((x + 1 + (x >> 16)) >> 16) * 65281) >> 24;
}

TEST(compositerow, DivisionIdentity)
{
	const uint32_t top = 65535u * 65535u;
	std::mt19937 random(20261214);
	std::uniform_int_distribution<uint32_t> any(0, top);

	for (uint32_t k = 0; k <= 255; k++)
		for (int d = -2; d <= 2; d++) {
			int64_t x = (int64_t)k * 16842495 + d;
			if (x < 0 || x > top)
				continue;
			ASSERT_EQ(shifted((uint32_t)x), x / 16842495) << x;
		}
	ASSERT_EQ(shifted(top), top / 16842495);
	for (int i = 0; i < 1 << 22; i++) {
		uint32_t x = any(random);
		ASSERT_EQ(shifted(x), x / 16842495) << x;
	}
	/* The second step alone, as the opaque shortcut uses it. */
	for (uint32_t y = 0; y <= 65535; y++)
		ASSERT_EQ((y * 65281) >> 24, y / 257) << y;
}
