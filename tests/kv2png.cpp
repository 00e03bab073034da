#include <gtest/gtest.h>

#include "tests/pngutil.h"
#include "tests/testutil.h"

/*
 * Everything a PNG written by kv2png must be: 16-bit RGBA, not interlaced,
 * nothing but IHDR, IDAT and IEND, and pixels that decode to the samples
 * of the kelvorin image it came from.
 */
static void
checkpng(const std::string &png, const std::string &image, uint32_t width,
    uint32_t height)
{
	size_t end;

	ASSERT_EQ(png.substr(0, 8), pngsignature());
	std::vector<pngchunk> chunks = pngchunks(png, &end);
	EXPECT_EQ(end, png.size());
	ASSERT_GE(chunks.size(), 3u);
	EXPECT_EQ(chunks.front().type, "IHDR");
	EXPECT_EQ(png.substr(8, 25), makeihdr(width, height, 16,
	    PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE));
	for (size_t i = 1; i + 1 < chunks.size(); i++)
		EXPECT_EQ(chunks[i].type, "IDAT") << "chunk " << i;
	EXPECT_EQ(chunks.back().type, "IEND");
	EXPECT_EQ(chunks.back().data, "");
	for (const pngchunk &c : chunks)
		ASSERT_TRUE(c.crcok) << c.type;

	decodedpng d = readpng(png);
	EXPECT_EQ(d.width, width);
	EXPECT_EQ(d.height, height);
	EXPECT_EQ(d.depth, 16);
	EXPECT_EQ(d.colourtype, PNG_COLOR_TYPE_RGB_ALPHA);
	EXPECT_EQ(d.interlace, PNG_INTERLACE_NONE);
	EXPECT_EQ(d.pixels, image.substr(16, (size_t)width * height * 8));
}

static pixel
alphaextremes(uint32_t x, uint32_t y)
{
	/* Colour under full transparency must survive as well. */
	static const pixel pixels[] = {
		{0, 0, 0, 0}, {65535, 65535, 65535, 65535},
		{0x1234, 0xabcd, 0xffff, 0}, {0xfedc, 0x0001, 0x8000, 65535},
		{0x00ff, 0xff00, 0x0100, 1}, {1, 2, 3, 65534},
	};

	return pixels[(x + 2 * y) % 6];
}

struct kv2pngroundtrip {
	const char *name;
	uint32_t width;
	uint32_t height;
	pixel (*f)(uint32_t, uint32_t);
	std::string trailing;	/* after the last row, never read */
};

TEST(kv2png, WritesExactSamplesAndComesBackUnchanged)
{
	const kv2pngroundtrip cases[] = {
		{"1 x 1 transparent black", 1, 1, alphaextremes, ""},
		{"1 x 1 opaque white", 1, 1,
		    [](uint32_t, uint32_t) { return pixel{65535, 65535, 65535,
		    65535}; }, ""},
		{"alpha extremes", 6, 5, alphaextremes, ""},
		{"pattern", 3, 2, patternpixel, ""},
		{"one row", 13, 1, patternpixel, ""},
		{"one column", 1, 9, patternpixel, ""},
		{"several IDAT chunks", 1000, 37, patternpixel, ""},
		{"trailing bytes", 5, 3, patternpixel, "trailing bytes"},
	};

	for (const kv2pngroundtrip &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string image = kvimage(c.width, c.height, c.f);
		runresult r = run(KV2PNG, {"kv2png"}, image + c.trailing);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		checkpng(r.out, image, c.width, c.height);

		runresult back = run(PNG2KV, {"png2kv"}, r.out);
		EXPECT_EQ(back.status, 0);
		EXPECT_EQ(back.err, "");
		EXPECT_EQ(back.out, image);
	}
}

struct kv2pngfailure {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	outmode mode;
	std::string out;
	std::string err;	/* the last line on standard error */
	bool warns;		/* libpng's warnings come before it */
	bool readsnothing;
};

TEST(kv2png, Fails)
{
	const std::string image = kvimage(3, 2, patternpixel);
	const std::string big = kvimage(300, 40, patternpixel);
	const std::string usage = "usage: kv2png\n";
	const std::string eof = "kv2png: fread: Unexpected end of file\n";
	const std::string refused = "kv2png: libpng: Invalid IHDR data\n";
	/* Before the first IDAT, all that libpng has written. */
	const std::string start = pngsignature() +
	    makeihdr(3, 2, 16, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE);

	const kv2pngfailure cases[] = {
		{"an argument", {"kv2png", "x"}, image, OUTPIPE, "", usage,
		    false, true},
		{"a dash", {"kv2png", "-"}, image, OUTPIPE, "", usage, false,
		    true},
		{"a double dash", {"kv2png", "--"}, image, OUTPIPE, "", usage,
		    false, true},
		{"an empty argument", {"kv2png", ""}, image, OUTPIPE, "", usage,
		    false, true},
		{"called by path", {"/some/where/kv2png", "-x"}, image, OUTPIPE,
		    "", "usage: /some/where/kv2png\n", false, true},
		{"empty input", {"kv2png"}, "", OUTPIPE, "", eof, false, false},
		{"short header", {"kv2png"}, image.substr(0, 15), OUTPIPE, "",
		    eof, false, false},
		{"wrong magic", {"kv2png"}, "kelvorim" + image.substr(8),
		    OUTPIPE, "", "kv2png: Invalid magic value\n", false, false},
		{"width 0", {"kv2png"}, kvheader(0, 2), OUTPIPE, "", refused,
		    true, false},
		{"height 0", {"kv2png"}, kvheader(3, 0), OUTPIPE, "", refused,
		    true, false},
		{"width 2^31", {"kv2png"}, kvheader(0x80000000u, 1), OUTPIPE,
		    "", refused, true, false},
		{"height 2^32 - 1", {"kv2png"}, kvheader(1, 0xffffffffu),
		    OUTPIPE, "", refused, true, false},
		{"prefix from argv[0]", {"./k"}, kvheader(0, 0), OUTPIPE, "",
		    "./k: libpng: Invalid IHDR data\n", true, false},
		{"cut after the header", {"kv2png"}, image.substr(0, 16),
		    OUTPIPE, start, eof, false, false},
		{"cut inside a row", {"kv2png"}, image.substr(0, 16 + 24 + 10),
		    OUTPIPE, start, eof, false, false},
		{"full, small", {"kv2png"}, image, OUTFULL, "",
		    "kv2png: ferror '<stdout>': No space left on device\n",
		    false, false},
		{"full, large", {"kv2png"}, big, OUTFULL, "",
		    "kv2png: libpng: Write Error\n", false, false},
		{"closed, small", {"kv2png"}, image, OUTCLOSED, "",
		    "kv2png: ferror '<stdout>': Bad file descriptor\n", false,
		    false},
		{"closed, large", {"kv2png"}, big, OUTCLOSED, "",
		    "kv2png: libpng: Write Error\n", false, false},
	};

	for (const kv2pngfailure &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(KV2PNG, c.args, c.input, c.mode);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, c.out);
		checkdiagnostic(r.err, c.err, c.warns);
		if (c.readsnothing) {
			EXPECT_EQ(r.consumed, 0);
		}
	}
}
