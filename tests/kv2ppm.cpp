#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/testutil.h"

static std::string
ppmheader(uint32_t width, uint32_t height)
{
	return "P6\n" + std::to_string(width) + " " + std::to_string(height) +
	    "\n255\n";
}

static pixel
clearpixel(uint32_t x, uint32_t y)
{
	return {(uint16_t)(4660 + x), (uint16_t)(999 * y), 31000, 0};
}

TEST(kv2ppm, CommandLines)
{
	/* A transparent pixel shows the background alone. */
	const std::string clear = kvimage(1, 1, clearpixel);
	const std::string white = ppmheader(1, 1) + "\xff\xff\xff";
	const std::string black = ppmheader(1, 1) + std::string(3, '\0');
	const std::string usage = "usage: kv2ppm [-b colour]\n";

	const runcase cases[] = {
		{"no option", {"kv2ppm"}, clear, OUTPIPE, white, "", 0, false},
		{"separate value", {"kv2ppm", "-b", "000"}, clear, OUTPIPE,
		    black, "", 0, false},
		{"attached value", {"kv2ppm", "-b000"}, clear, OUTPIPE, black,
		    "", 0, false},
		{"three digits", {"kv2ppm", "-bf00"}, clear, OUTPIPE,
		    ppmheader(1, 1) + std::string("\xff\0\0", 3), "", 0, false},
		{"three other digits", {"kv2ppm", "-b", "abc"}, clear, OUTPIPE,
		    ppmheader(1, 1) + "\xaa\xbb\xcc", "", 0, false},
		{"capitals", {"kv2ppm", "-b", "FFF"}, clear, OUTPIPE, white, "",
		    0, false},
		{"white named", {"kv2ppm", "-b", "fff"}, clear, OUTPIPE, white,
		    "", 0, false},
		{"six digits", {"kv2ppm", "-b", "ff8000"}, clear, OUTPIPE,
		    ppmheader(1, 1) + std::string("\xff\x80\0", 3), "", 0,
		    false},
		{"twelve digits", {"kv2ppm", "-b", "123456789abc"}, clear,
		    OUTPIPE, ppmheader(1, 1) + "\x12\x56\x9a", "", 0, false},
		{"twelve digits, half", {"kv2ppm", "-b", "ffff80000000"}, clear,
		    OUTPIPE, ppmheader(1, 1) + std::string("\xff\x7f\0", 3), "",
		    0, false},
		{"a field stops early", {"kv2ppm", "-b", "12345g"}, clear,
		    OUTPIPE, ppmheader(1, 1) + "\x12\x34\x05", "", 0, false},
		{"later wins", {"kv2ppm", "-b", "fff", "-b", "000"}, clear,
		    OUTPIPE, black, "", 0, false},
		{"later wins again", {"kv2ppm", "-b000", "-bfff"}, clear,
		    OUTPIPE, white, "", 0, false},
		{"double dash alone", {"kv2ppm", "--"}, clear, OUTPIPE, white,
		    "", 0, false},
		{"double dash after", {"kv2ppm", "-b", "000", "--"}, clear,
		    OUTPIPE, black, "", 0, false},
		{"value like an option", {"kv2ppm", "-b", "-1"}, clear, OUTPIPE,
		    "", usage, 1, true},
		{"value is a double dash", {"kv2ppm", "-b", "--"}, clear,
		    OUTPIPE, "", usage, 1, true},
		{"empty value", {"kv2ppm", "-b", ""}, clear, OUTPIPE, "", usage,
		    1, true},
		{"option after a double dash", {"kv2ppm", "--", "-b", "fff"},
		    clear, OUTPIPE, "", usage, 1, true},
		{"two double dashes", {"kv2ppm", "--", "--"}, clear, OUTPIPE, "",
		    usage, 1, true},
		{"dash", {"kv2ppm", "-"}, clear, OUTPIPE, "", usage, 1, true},
		{"empty argument", {"kv2ppm", ""}, clear, OUTPIPE, "", usage, 1,
		    true},
		{"operand", {"kv2ppm", "picture.kv"}, clear, OUTPIPE, "", usage,
		    1, true},
		{"operand after an option", {"kv2ppm", "-b", "000", "x"}, clear,
		    OUTPIPE, "", usage, 1, true},
		{"value letter last", {"kv2ppm", "-b"}, clear, OUTPIPE, "",
		    usage, 1, true},
		{"value letter last again", {"kv2ppm", "-b", "000", "-b"},
		    clear, OUTPIPE, "", usage, 1, true},
		{"unknown letter", {"kv2ppm", "-x"}, clear, OUTPIPE, "", usage,
		    1, true},
		{"dash among the letters", {"kv2ppm", "--x"}, clear, OUTPIPE, "",
		    usage, 1, true},
		{"value takes the rest", {"kv2ppm", "-bb"}, clear, OUTPIPE, "",
		    usage, 1, true},
		{"too long", {"kv2ppm", "-b000x"}, clear, OUTPIPE, "", usage, 1,
		    true},
		{"hash", {"kv2ppm", "-b", "#fff"}, clear, OUTPIPE, "", usage, 1,
		    true},
		{"hash, six digits", {"kv2ppm", "-b", "#ffffff"}, clear, OUTPIPE,
		    "", usage, 1, true},
		{"four digits", {"kv2ppm", "-b", "ffff"}, clear, OUTPIPE, "",
		    usage, 1, true},
		{"one field", {"kv2ppm", "-b", "fgg"}, clear, OUTPIPE, "", usage,
		    1, true},
		{"no hexadecimal digit", {"kv2ppm", "-b", "ggg"}, clear, OUTPIPE,
		    "", usage, 1, true},
		{"bad value first", {"kv2ppm", "-b", "zzz", "-b", "000"}, clear,
		    OUTPIPE, "", usage, 1, true},
		{"bad value left of an operand", {"kv2ppm", "-bzzz", "extra"},
		    clear, OUTPIPE, "", usage, 1, true},
		{"called by path", {"/some/where/kv2ppm", "-x"}, clear, OUTPIPE,
		    "", "usage: /some/where/kv2ppm [-b colour]\n", 1, true},
		{"called by another name", {"ppm", "a"}, clear, OUTPIPE, "",
		    "usage: ppm [-b colour]\n", 1, true},
	};

	checkruns(KV2PPM, cases);
}

TEST(kv2ppm, Images)
{
	static const uint16_t whitebg[3] = {65535, 65535, 65535};
	static const uint16_t blackbg[3] = {0, 0, 0};
	const std::string image = kvimage(3, 2, patternpixel);
	const std::string rows = compositedrows(3, 2, patternpixel, whitebg);
	const std::string big = kvimage(3000, 20, patternpixel);
	const std::string eof = "kv2ppm: fread: Unexpected end of file\n";

	const runcase cases[] = {
		{"over white", {"kv2ppm"}, image, OUTPIPE,
		    ppmheader(3, 2) + rows, "", 0, false},
		{"over black", {"kv2ppm", "-b", "000"}, image, OUTPIPE,
		    ppmheader(3, 2) + compositedrows(3, 2, patternpixel,
		    blackbg), "", 0, false},
		{"opaque red", {"kv2ppm", "-b", "123"},
		    kvimage(1, 1, [](uint32_t, uint32_t) {
			return pixel{65535, 0, 0, 65535};
		    }), OUTPIPE, "P6\n1 1\n255\n" + std::string("\xff\0\0", 3),
		    "", 0, false},
		{"transparent over white", {"kv2ppm"}, kvimage(4, 3, clearpixel),
		    OUTPIPE, ppmheader(4, 3) + std::string(36, '\xff'), "", 0,
		    false},
		{"transparent over black", {"kv2ppm", "-b", "000"},
		    kvimage(4, 3, clearpixel), OUTPIPE,
		    ppmheader(4, 3) + std::string(36, '\0'), "", 0, false},
		{"trailing bytes", {"kv2ppm"}, image + "trailing", OUTPIPE,
		    ppmheader(3, 2) + rows, "", 0, false},
		{"height 0", {"kv2ppm"}, kvheader(5, 0) + "ignored", OUTPIPE,
		    ppmheader(5, 0), "", 0, false},
		{"width 0", {"kv2ppm", "-b", "000"}, kvheader(0, 7), OUTPIPE,
		    ppmheader(0, 7), "", 0, false},
		{"width 0, most rows", {"kv2ppm"}, kvheader(0, 4294967295u),
		    OUTPIPE, ppmheader(0, 4294967295u), "", 0, false},
		{"empty input", {"kv2ppm"}, "", OUTPIPE, "", eof, 1, false},
		{"short header", {"kv2ppm"}, image.substr(0, 15), OUTPIPE, "",
		    eof, 1, false},
		{"wrong magic", {"kv2ppm"}, "kelvorim" + image.substr(8),
		    OUTPIPE, "", "kv2ppm: Invalid magic value\n", 1, false},
		{"cut inside a row", {"kv2ppm"}, image.substr(0, 16 + 24 + 10),
		    OUTPIPE, ppmheader(3, 2) + rows.substr(0, 9), eof, 1,
		    false},
		{"cut after the header", {"kv2ppm"}, image.substr(0, 16),
		    OUTPIPE, ppmheader(3, 2), eof, 1, false},
		{"cut before the last byte", {"kv2ppm"},
		    image.substr(0, image.size() - 1), OUTPIPE,
		    ppmheader(3, 2) + rows.substr(0, 9), eof, 1, false},
		{"full, small", {"kv2ppm"}, image, OUTFULL, "",
		    "kv2ppm: ferror '<stdout>': No space left on device\n", 1,
		    false},
		{"full, large", {"kv2ppm"}, big, OUTFULL, "",
		    "kv2ppm: fwrite: No space left on device\n", 1, false},
		{"closed", {"kv2ppm"}, image, OUTCLOSED, "",
		    "kv2ppm: ferror '<stdout>': Bad file descriptor\n", 1,
		    false},
		{"closed, large", {"kv2ppm"}, big, OUTCLOSED, "",
		    "kv2ppm: fwrite: Bad file descriptor\n", 1, false},
	};

	checkruns(KV2PPM, cases);
}

TEST(kv2ppm, EveryAlphaOverEveryBackground)
{
	/* One pixel for each alpha, its colour samples drawn at random. */
	std::mt19937 random(4369);
	std::uniform_int_distribution<unsigned> sample(0, 65535);
	std::vector<pixel> pixels(65536);
	for (uint32_t a = 0; a < 65536; a++)
		pixels[a] = {(uint16_t)sample(random), (uint16_t)sample(random),
		    (uint16_t)sample(random), (uint16_t)a};
	auto f = [&](uint32_t x, uint32_t y) { return pixels[(x + y * 4096) &
	    65535]; };
	const std::string image = kvimage(4096, 16, f);

	static const struct {
		const char *colour;	/* null: the default */
		uint16_t background[3];
	} cases[] = {
		{nullptr, {65535, 65535, 65535}},
		{"000", {0, 0, 0}},
		{"f0f", {65535, 0, 65535}},
		{"ff8000", {65535, 32896, 0}},
		{"123456789abc", {4660, 22136, 39612}},
		{"0101fefe8000", {257, 65278, 32768}},
		{"00ffff000001", {255, 65280, 1}},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.colour != nullptr ? c.colour : "default");
		std::vector<std::string> args = {"kv2ppm"};
		if (c.colour != nullptr)
			args.insert(args.end(), {"-b", c.colour});
		runresult r = run(KV2PPM, args, image);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		std::string want = ppmheader(4096, 16) +
		    compositedrows(4096, 16, f, c.background);
		/* The first difference, not megabytes of both outputs. */
		EXPECT_EQ(r.out.size(), want.size());
		EXPECT_EQ(std::mismatch(r.out.begin(), r.out.end(),
		    want.begin(), want.end()).first - r.out.begin(),
		    (ptrdiff_t)std::min(r.out.size(), want.size()));
	}
}
