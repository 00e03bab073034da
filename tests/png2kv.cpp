#include <stdint.h>

#include <functional>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/pngutil.h"
#include "tests/testutil.h"

struct pngformat {
	const char *tag;	/* the name of its row in ctest */
	int colourtype;
	int depth;
	bool transparent;	/* with a tRNS chunk */
};

static const pngformat formats[] = {
	{"grey1", PNG_COLOR_TYPE_GRAY, 1, false},
	{"grey1trns", PNG_COLOR_TYPE_GRAY, 1, true},
	{"grey2", PNG_COLOR_TYPE_GRAY, 2, false},
	{"grey2trns", PNG_COLOR_TYPE_GRAY, 2, true},
	{"grey4", PNG_COLOR_TYPE_GRAY, 4, false},
	{"grey4trns", PNG_COLOR_TYPE_GRAY, 4, true},
	{"grey8", PNG_COLOR_TYPE_GRAY, 8, false},
	{"grey8trns", PNG_COLOR_TYPE_GRAY, 8, true},
	{"grey16", PNG_COLOR_TYPE_GRAY, 16, false},
	{"grey16trns", PNG_COLOR_TYPE_GRAY, 16, true},
	{"greyalpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
	{"greyalpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false},
	{"palette1", PNG_COLOR_TYPE_PALETTE, 1, false},
	{"palette1trns", PNG_COLOR_TYPE_PALETTE, 1, true},
	{"palette2", PNG_COLOR_TYPE_PALETTE, 2, false},
	{"palette2trns", PNG_COLOR_TYPE_PALETTE, 2, true},
	{"palette4", PNG_COLOR_TYPE_PALETTE, 4, false},
	{"palette4trns", PNG_COLOR_TYPE_PALETTE, 4, true},
	{"palette8", PNG_COLOR_TYPE_PALETTE, 8, false},
	{"palette8trns", PNG_COLOR_TYPE_PALETTE, 8, true},
	{"rgb8", PNG_COLOR_TYPE_RGB, 8, false},
	{"rgb8trns", PNG_COLOR_TYPE_RGB, 8, true},
	{"rgb16", PNG_COLOR_TYPE_RGB, 16, false},
	{"rgb16trns", PNG_COLOR_TYPE_RGB, 16, true},
	{"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false},
	{"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
};

/* Short of the 2^depth entries that a palette may hold, for depth 4 and 8. */
static size_t
palettesize(int depth)
{
	return depth == 8 ? 181 : depth == 4 ? 11 : (size_t)1 << depth;
}

/*
 * A picture whose samples cover each depth's extremes, with distinct high
 * and low bytes at depth 16.  With a tRNS colour, every fourth pixel has
 * exactly that colour and others miss it by one in a single channel.
 */
static pngpicture
makepicture(const pngformat &f, uint32_t width, uint32_t height,
    bool interlaced)
{
	pngpicture p{};
	int channels = pngchannels(f.colourtype);
	size_t pixels = (size_t)width * height;
	bool palette = f.colourtype == PNG_COLOR_TYPE_PALETTE;
	uint32_t top = palette ? palettesize(f.depth) - 1 :
	    ((uint32_t)1 << f.depth) - 1;

	p.width = width;
	p.height = height;
	p.colourtype = f.colourtype;
	p.depth = f.depth;
	p.interlaced = interlaced;
	for (size_t k = 0; k < pixels; k++)
		for (int c = 0; c < channels; c++) {
			uint32_t v = (uint32_t)(k * 0x3b1d + c * 0x1f07 +
			    k * k * 0x0101 + 0x0123);
			if (k % 7 == 3)
				v = top;
			else if (k % 7 == 5)
				v = 0;
			else
				v = palette ? v % (top + 1) : v & top;
			p.samples.push_back((uint16_t)v);
		}

	if (palette) {
		size_t n = palettesize(f.depth);
		for (size_t i = 0; i < n; i++)
			p.palette.push_back({(uint8_t)(i * 53 + 7),
			    (uint8_t)(i * 97 + 200), (uint8_t)(255 - i * 31)});
		/* Half of the entries have an alpha value, the rest none. */
		size_t alphas = f.transparent ? (n + 1) / 2 : 0;
		for (size_t i = 0; i < alphas; i++)
			p.palettealpha.push_back(i == 0 ? 0 : i == alphas - 1 ?
			    255 : (uint8_t)(i * 89 + 40));
	} else if (f.transparent) {
		p.transparent = true;
		for (int c = 0; c < channels; c++)
			p.transparentcolour[c] = p.samples[c];
		for (size_t k = 0; k < pixels; k++) {
			uint16_t *s = &p.samples[k * channels];
			if (k % 4 == 3)
				continue;
			for (int c = 0; c < channels; c++)
				s[c] = p.transparentcolour[c];
			if (k % 4 == 1)
				s[channels - 1] ^= 1;
			else if (k % 4 == 2)
				s[0] ^= 1;
		}
	}
	return p;
}

/* A sample at the picture's depth as a kelvorin sample. */
static uint16_t
widen(const pngpicture &p, uint16_t v)
{
	if (p.depth == 16)
		return v;
	/* Full range first: the brightest value becomes 255. */
	uint32_t eight = (uint32_t)v * 255 / ((1u << p.depth) - 1);
	return (uint16_t)(eight * 257);
}

static pixel
expectedpixel(const pngpicture &p, uint32_t x, uint32_t y)
{
	int channels = pngchannels(p.colourtype);
	const uint16_t *s = &p.samples[((size_t)y * p.width + x) * channels];
	bool match = p.transparent;
	uint16_t grey;

	for (int c = 0; c < channels; c++)
		match = match && s[c] == p.transparentcolour[c];
	switch (p.colourtype) {
	case PNG_COLOR_TYPE_GRAY:
		grey = widen(p, s[0]);
		return {grey, grey, grey, (uint16_t)(match ? 0 : 65535)};
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		grey = widen(p, s[0]);
		return {grey, grey, grey, widen(p, s[1])};
	case PNG_COLOR_TYPE_RGB:
		return {widen(p, s[0]), widen(p, s[1]), widen(p, s[2]),
		    (uint16_t)(match ? 0 : 65535)};
	case PNG_COLOR_TYPE_RGB_ALPHA:
		return {widen(p, s[0]), widen(p, s[1]), widen(p, s[2]),
		    widen(p, s[3])};
	default:
		const std::array<uint8_t, 3> &e = p.palette.at(s[0]);
		uint16_t alpha = s[0] < p.palettealpha.size() ?
		    p.palettealpha[s[0]] * 257 : 65535;
		return {(uint16_t)(e[0] * 257), (uint16_t)(e[1] * 257),
		    (uint16_t)(e[2] * 257), alpha};
	}
}

static std::string
expectedimage(const pngpicture &p)
{
	return kvimage(p.width, p.height, [&](uint32_t x, uint32_t y) {
		return expectedpixel(p, x, y);
	});
}

/* Names the row in failure messages, not its bytes. */
static void
PrintTo(const pngformat &f, std::ostream *os)
{
	*os << f.tag;
}

class png2kvformats : public testing::TestWithParam<pngformat> {
};

TEST_P(png2kvformats, DecodesEverySample)
{
	static const struct {
		uint32_t width;
		uint32_t height;
	} sizes[] = {{1, 1}, {7, 1}, {1, 9}, {5, 3}, {17, 11}};
	const pngformat &f = GetParam();

	for (const auto &size : sizes)
		for (bool interlaced : {false, true}) {
			SCOPED_TRACE(std::to_string(size.width) + " x " +
			    std::to_string(size.height) +
			    (interlaced ? ", interlaced" : ""));
			pngpicture p = makepicture(f, size.width, size.height,
			    interlaced);
			std::string png = writepng(p);

			/* The fixture is what it claims to be. */
			size_t end;
			bool trns = false;
			for (const pngchunk &c : pngchunks(png, &end))
				trns = trns || c.type == "tRNS";
			ASSERT_EQ(trns, f.transparent);
			ASSERT_EQ(png.substr(8, 25), makeihdr(size.width,
			    size.height, f.depth, f.colourtype, interlaced));

			runresult r = run(PNG2KV, {"png2kv"}, png);
			EXPECT_EQ(r.signal, 0);
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.err, "");
			EXPECT_EQ(r.out, expectedimage(p));
		}
}

INSTANTIATE_TEST_SUITE_P(png2kv, png2kvformats, testing::ValuesIn(formats),
    [](const testing::TestParamInfo<pngformat> &info) {
	return std::string(info.param.tag);
});

/* The PNG with what edit makes of it in place of each chunk of a type. */
static std::string
editchunks(const std::string &png, const char *type,
    const std::function<std::string(const pngchunk &)> &edit)
{
	std::string out = png.substr(0, 8);
	size_t end;

	for (const pngchunk &c : pngchunks(png, &end))
		out += c.type == type ? edit(c) : makechunk(c.type, c.data);
	return out;
}

static std::string
badcrc(const pngchunk &c)
{
	std::string s = makechunk(c.type, c.data);

	s.back() ^= 0x5a;
	return s;
}

struct png2kvrun {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	outmode mode;
	std::string out;
	std::string err;	/* the last line on standard error */
	bool warns;		/* libpng's warnings come before it */
	int status;
	bool readsnothing;
};

TEST(png2kv, Runs)
{
	const pngformat rgb = {"rgb8", PNG_COLOR_TYPE_RGB, 8, false};
	const pngformat rgba = {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false};
	const pngpicture picture = makepicture(rgb, 5, 3, false);
	const std::string png = writepng(picture);
	const std::string image = expectedimage(picture);
	/* More than a block of output, in rows that the block gathers. */
	const std::string big = writepng(makepicture(rgba, 300,
	    KVBLOCKSIZE / 2400 + 1, false));
	const std::string usage = "usage: png2kv\n";
	const std::string readerror = "png2kv: libpng: Read Error\n";
	size_t idat = png.find("IDAT") - 4;
	const std::string idatcrc = editchunks(png, "IDAT", badcrc);
	const std::string ihdrcrc = editchunks(png, "IHDR", badcrc);
	/* An ancillary chunk that libpng skips with a warning. */
	const std::string textcrc = editchunks(png, "IHDR",
	    [](const pngchunk &c) {
		pngchunk text = {"tEXt", std::string("Comment\0damaged", 15),
		    true};
		return makechunk(c.type, c.data) + badcrc(text);
	});
	const std::string width0 = editchunks(png, "IHDR",
	    [](const pngchunk &) {
		return makeihdr(0, 3, 8, PNG_COLOR_TYPE_RGB, 0);
	});
	const std::string width31 = editchunks(png, "IHDR",
	    [](const pngchunk &) {
		return makeihdr(0x80000000u, 3, 8, PNG_COLOR_TYPE_RGB, 0);
	});
	const std::string garbage = editchunks(png, "IDAT",
	    [](const pngchunk &c) {
		return makechunk("IDAT", std::string(c.data.size(), '\x5a'));
	});

	const png2kvrun cases[] = {
		{"an argument", {"png2kv", "x"}, png, OUTPIPE, "", usage, false,
		    1, true},
		{"a dash", {"png2kv", "-"}, png, OUTPIPE, "", usage, false, 1,
		    true},
		{"a double dash", {"png2kv", "--"}, png, OUTPIPE, "", usage,
		    false, 1, true},
		{"an empty argument", {"png2kv", ""}, png, OUTPIPE, "", usage,
		    false, 1, true},
		{"called by path", {"/some/where/png2kv", "-x"}, png, OUTPIPE,
		    "", "usage: /some/where/png2kv\n", false, 1, true},
		{"bytes after IEND", {"png2kv"}, png + "not a PNG at all",
		    OUTPIPE, image, "", false, 0, false},
		{"a second PNG after IEND", {"png2kv"}, png + big, OUTPIPE,
		    image, "", false, 0, false},
		{"a damaged ancillary chunk", {"png2kv"}, textcrc, OUTPIPE,
		    image, "", true, 0, false},
		{"empty input", {"png2kv"}, "", OUTPIPE, "", readerror, false,
		    1, false},
		{"a kelvorin image", {"png2kv"}, image, OUTPIPE, "",
		    "png2kv: libpng: Not a PNG file\n", false, 1, false},
		{"prefix from argv[0]", {"./p"}, image, OUTPIPE, "",
		    "./p: libpng: Not a PNG file\n", false, 1, false},
		{"the signature alone", {"png2kv"}, pngsignature(), OUTPIPE, "",
		    readerror, false, 1, false},
		{"cut inside IDAT", {"png2kv"}, png.substr(0, idat + 20),
		    OUTPIPE, "", readerror, false, 1, false},
		{"no IEND", {"png2kv"}, png.substr(0, png.size() - 12), OUTPIPE,
		    "", readerror, false, 1, false},
		{"a bad CRC in IDAT", {"png2kv"}, idatcrc, OUTPIPE, "",
		    "png2kv: libpng: IDAT: CRC error\n", false, 1, false},
		{"a bad CRC in IHDR", {"png2kv"}, ihdrcrc, OUTPIPE, "",
		    "png2kv: libpng: IHDR: CRC error\n", false, 1, false},
		{"width 0", {"png2kv"}, width0, OUTPIPE, "",
		    "png2kv: libpng: Invalid IHDR data\n", true, 1, false},
		{"width 2^31", {"png2kv"}, width31, OUTPIPE, "",
		    "png2kv: libpng: PNG unsigned integer out of range\n",
		    false, 1, false},
		{"garbage for image data", {"png2kv"}, garbage, OUTPIPE, "",
		    "png2kv: libpng: IDAT: incorrect header check\n", false, 1,
		    false},
		{"full, small", {"png2kv"}, png, OUTFULL, "",
		    "png2kv: ferror '<stdout>': No space left on device\n",
		    false, 1, false},
		{"full, large", {"png2kv"}, big, OUTFULL, "",
		    "png2kv: fwrite: No space left on device\n", false, 1,
		    false},
		{"closed, small", {"png2kv"}, png, OUTCLOSED, "",
		    "png2kv: ferror '<stdout>': Bad file descriptor\n", false,
		    1, false},
		{"closed, large", {"png2kv"}, big, OUTCLOSED, "",
		    "png2kv: fwrite: Bad file descriptor\n", false, 1, false},
	};

	for (const png2kvrun &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(PNG2KV, c.args, c.input, c.mode);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.out, c.out);
		checkdiagnostic(r.err, c.err, c.warns);
		if (c.readsnothing) {
			EXPECT_EQ(r.consumed, 0);
		}
	}
}

/*
 * Headers that claim huge images over a few bytes of image data.  Whatever
 * the claim, the run costs little: the allocator refuses the image at once,
 * or grants it without touching it and libpng runs out of data in the
 * first rows.  The bound is far below what allocating each row apart costs
 * (png_read_png's way): at least a page a row, 4 GB for a million rows.
 */
TEST(png2kv, FailsCheaplyOnHugeClaims)
{
	const std::string refused = "png2kv: reallocarray: Out of memory\n";
	const std::string shortdata = "png2kv: libpng: Not enough image data\n";
	const long boundkb = 256 * 1024;
	static const struct {
		const char *name;
		uint32_t width;
		uint32_t height;
		int depth;
		int colourtype;
		int interlace;
		bool mayrefuse;	/* large enough that an allocator may */
	} cases[] = {
		{"1e6 x 1e6 RGBA 16", 1000000, 1000000, 16,
		    PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, true},
		{"1e6 x 1e6 RGBA 8", 1000000, 1000000, 8,
		    PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, true},
		{"1e6 x 1e6 grey 1", 1000000, 1000000, 1, PNG_COLOR_TYPE_GRAY,
		    PNG_INTERLACE_NONE, true},
		{"1e6 x 1e6 palette 8", 1000000, 1000000, 8,
		    PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, true},
		{"1e6 x 1e6 RGBA 16 interlaced", 1000000, 1000000, 16,
		    PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7, true},
		{"46340 x 46340 RGBA 16", 46340, 46340, 16,
		    PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, true},
		{"1 x 1e6 RGBA 16", 1, 1000000, 16, PNG_COLOR_TYPE_RGB_ALPHA,
		    PNG_INTERLACE_NONE, false},
		{"1e6 x 1 RGBA 16", 1000000, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA,
		    PNG_INTERLACE_NONE, false},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(PNG2KV, {"png2kv"}, claimingpng(c.width,
		    c.height, c.depth, c.colourtype, c.interlace));
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, "");

		/*
		 * The line stands alone: these headers draw no warning from
		 * libpng, so a line before it would be a fault of its own.
		 */
		std::string err = r.err;
		long bound = boundkb;
#ifdef SANITIZED
		/*
		 * The sanitizer's allocator announces each block it refuses
		 * on a line of its own, and fills the shadow of each block it
		 * grants: a byte for every 8 bytes of the decoded image.
		 */
		while (err.compare(0, 2, "==") == 0 &&
		    err.find("AddressSanitizer failed to allocate") <
		    err.find('\n'))
			err.erase(0, err.find('\n') + 1);
		if (err != refused)
			bound += (long)((uint64_t)c.width * c.height *
			    (c.depth == 16 ? 8 : 4) / 8 / 1024);
#endif
		EXPECT_TRUE(err == shortdata || (c.mayrefuse && err == refused))
		    << r.err;
		EXPECT_LE(r.maxrss, bound);
	}
}
