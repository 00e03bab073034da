#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/jpegutil.h"
#include "tests/testutil.h"

/* The kelvorin image that a library decode stands for: v as v × 257. */
static std::string
widened(const jpegdecoded &decoded)
{
	std::string s = kvheader(decoded.width, decoded.height);

	for (size_t i = 0; i < decoded.rgb.size(); i += 3) {
		for (size_t c = 0; c < 3; c++) {
			uint16_t v = (unsigned char)decoded.rgb[i + c] * 257;
			s += (char)(v >> 8);
			s += (char)(v & 0xff);
		}
		s += "\xff\xff";
	}
	return s;
}

/* The datastream up to the entropy-coded data, and that fraction of it. */
static std::string
cutentropy(const std::string &jpeg, size_t numerator, size_t denominator)
{
	size_t sos = jpegsegment(jpeg, 0xda);
	size_t start = sos + 2 + ((unsigned char)jpeg[sos + 2] << 8 |
	    (unsigned char)jpeg[sos + 3]);

	return jpeg.substr(0, start + (jpeg.size() - 2 - start) * numerator /
	    denominator);
}

/* The datastream cut extra bytes into its first segment with this marker. */
static std::string
cutsegment(const std::string &jpeg, unsigned char code, size_t extra)
{
	return jpeg.substr(0, jpegsegment(jpeg, code) + extra);
}

static uint8_t
blocks(uint32_t x, uint32_t y, int)
{
	return (x / 8 + y / 8) % 2 != 0 ? 255 : 0;
}

static std::string
halfthedata(const std::string &jpeg)
{
	return cutentropy(jpeg, 1, 2);
}

static std::string
nodata(const std::string &jpeg)
{
	return cutentropy(jpeg, 0, 1);
}

static std::string
trailing(const std::string &jpeg)
{
	return jpeg + "trailing";
}

/* Garbles a few bytes two thirds into the datastream. */
static std::string
garbled(const std::string &jpeg)
{
	std::string s = jpeg;

	for (size_t i = s.size() * 2 / 3, end = i + 6; i < end; i++)
		s[i] = (char)(s[i] ^ 0x5a);
	return s;
}

struct decodecase {
	const char *name;
	jpegsettings settings;
	uint8_t (*source)(uint32_t, uint32_t, int);
	std::string (*damage)(const std::string &);	/* or null */
	bool warns;	/* the library reports damage and decodes on */
};

TEST(jpg2kv, GivesTheLibrarysRgbWidened)
{
	const jpegsettings sequential = {40, 24, JCS_YCbCr, 80, 2, 2, false};
	const jpegsettings progressive = {40, 24, JCS_YCbCr, 80, 2, 2, true};
	const decodecase cases[] = {
		{"colour 4:2:0", {19, 13, JCS_YCbCr, 90, 2, 2, false},
		    patternsample, nullptr, false},
		{"colour 4:4:4", {19, 13, JCS_YCbCr, 90, 1, 1, false},
		    patternsample, nullptr, false},
		{"colour 4:2:2", {16, 8, JCS_YCbCr, 50, 2, 1, false},
		    patternsample, nullptr, false},
		{"stored as RGB", {9, 7, JCS_RGB, 90, 1, 1, false},
		    patternsample, nullptr, false},
		{"greyscale", {17, 11, JCS_GRAYSCALE, 75, 1, 1, false},
		    patternsample, nullptr, false},
		{"progressive colour", {23, 17, JCS_YCbCr, 85, 2, 2, true},
		    patternsample, nullptr, false},
		{"progressive greyscale", {8, 8, JCS_GRAYSCALE, 85, 1, 1, true},
		    patternsample, nullptr, false},
		{"1 x 1 colour", {1, 1, JCS_YCbCr, 90, 2, 2, false},
		    patternsample, nullptr, false},
		{"1 x 1 greyscale", {1, 1, JCS_GRAYSCALE, 90, 1, 1, false},
		    patternsample, nullptr, false},
		{"black and white blocks", {32, 16, JCS_YCbCr, 100, 1, 1, false},
		    blocks, nullptr, false},
		{"wider than a stdio buffer", {700, 3, JCS_YCbCr, 75, 2, 2,
		    false}, patternsample, nullptr, false},
		{"trailing bytes", sequential, patternsample, trailing, false},
		{"cut after the scan header", sequential, patternsample, nodata,
		    true},
		{"cut inside progressive data", progressive, patternsample,
		    halfthedata, true},
		{"garbled image data", sequential, patternsample, garbled, true},
	};

	for (const decodecase &c : cases) {
		SCOPED_TRACE(c.name);
		std::string jpeg = jpegimage(c.settings, c.source);
		if (c.damage != nullptr)
			jpeg = c.damage(jpeg);
		const jpegdecoded library = jpegdecode(jpeg);
		ASSERT_EQ(library.error, "");
		ASSERT_EQ(library.warnings != "", c.warns);
		const uint32_t width = c.settings.width;
		const uint32_t height = c.settings.height;
		ASSERT_EQ(library.rgb.size(), (size_t)width * height * 3);

		runresult r = run(JPG2KV, {"jpg2kv"}, jpeg);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, library.warnings);
		ASSERT_EQ(r.out.size(), 16 + (size_t)width * height * 8);
		EXPECT_EQ(r.out.substr(0, 16), kvheader(width, height));
		EXPECT_EQ(r.out, widened(library));

		/* What holds of every image, whatever the library decoded. */
		size_t opaque = 0, doubled = 0, equal = 0;
		for (size_t p = 16; p < r.out.size(); p += 8) {
			const std::string px = r.out.substr(p, 8);
			opaque += px.substr(6) == "\xff\xff";
			for (size_t s = 0; s < 8; s += 2)
				doubled += px[s] == px[s + 1];
			equal += px.substr(0, 2) == px.substr(2, 2) &&
			    px.substr(2, 2) == px.substr(4, 2);
		}
		const size_t pixels = (size_t)width * height;
		EXPECT_EQ(opaque, pixels);
		EXPECT_EQ(doubled, pixels * 4);
		if (c.settings.space == JCS_GRAYSCALE) {
			EXPECT_EQ(equal, pixels);
		}
	}
}

TEST(jpg2kv, OneColourPixelIsTwentyFourBytes)
{
	const std::string jpeg = jpegimage({1, 1, JCS_YCbCr, 95, 1, 1, false},
	    [](uint32_t, uint32_t, int c) { return (uint8_t)(40 + c * 90); });
	const jpegdecoded library = jpegdecode(jpeg);
	ASSERT_EQ(library.rgb.size(), 3u);
	const std::string r = library.rgb.substr(0, 1);
	const std::string g = library.rgb.substr(1, 1);
	const std::string b = library.rgb.substr(2, 1);
	/* Distinct samples, so that a swap of channels shows. */
	ASSERT_NE(r, g);
	ASSERT_NE(g, b);

	runresult result = run(JPG2KV, {"jpg2kv"}, jpeg);
	EXPECT_EQ(result.status, 0);
	EXPECT_EQ(result.err, "");
	EXPECT_EQ(result.out, std::string("kelvorin\0\0\0\1\0\0\0\1", 16) +
	    r + r + g + g + b + b + "\xff\xff");
}

struct refusecase {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	outmode mode;
	std::string out;
	std::string err;
	int status;
	bool readsnothing;
	bool libjpeg;	/* ends in a "libjpeg: " line */
};

/* The diagnostics of a run whose input libjpeg refuses, and its warnings. */
static std::string
refusal(const std::string &name, const std::string &jpeg)
{
	const jpegdecoded library = jpegdecode(jpeg);

	return library.warnings + name + ": libjpeg: " + library.error + "\n";
}

TEST(jpg2kv, Refuses)
{
	const jpegsettings settings = {40, 24, JCS_YCbCr, 80, 2, 2, false};
	const std::string jpeg = jpegimage(settings);
	const std::string small = jpegimage({8, 8, JCS_YCbCr, 75, 2, 2, false});
	/* More than a block of output, in rows that the block gathers. */
	const std::string big = jpegimage({300, KVBLOCKSIZE / 2400 + 1,
	    JCS_YCbCr, 75, 2, 2, false});
	const std::string cmyk = jpegimage({8, 8, JCS_CMYK, 90, 1, 1, false});
	const std::string ycck = jpegimage({8, 8, JCS_YCCK, 90, 1, 1, false});
	const std::string notjpeg = kvimage(2, 2, patternpixel);
	const std::string noimage = "\xff\xd8\xff\xd9";
	const std::string soi = jpeg.substr(0, 2);
	const std::string dqt = cutsegment(jpeg, 0xdb, 30);
	const std::string sof = cutsegment(jpeg, 0xc0, 9);
	const std::string dht = cutsegment(jpeg, 0xc4, 12);
	const std::string sos = cutsegment(jpeg, 0xda, 6);
	const std::string cut = cutentropy(jpeg, 1, 2);
	const jpegdecoded cutdecoded = jpegdecode(cut);
	const std::string usage = "usage: jpg2kv\n";

	/* The cut image is damaged, not refused, and keeps its size. */
	ASSERT_EQ(cutdecoded.error, "");
	ASSERT_NE(cutdecoded.warnings, "");
	ASSERT_EQ(cutdecoded.width, settings.width);
	ASSERT_EQ(cutdecoded.height, settings.height);

	const refusecase cases[] = {
		{"an argument", {"jpg2kv", "x"}, jpeg, OUTPIPE, "", usage, 1,
		    true, false},
		{"a dash", {"jpg2kv", "-"}, jpeg, OUTPIPE, "", usage, 1, true,
		    false},
		{"a double dash", {"jpg2kv", "--"}, jpeg, OUTPIPE, "", usage, 1,
		    true, false},
		{"an empty argument", {"jpg2kv", ""}, jpeg, OUTPIPE, "", usage,
		    1, true, false},
		{"called by path", {"/some/where/jpg2kv", "a", "b"}, jpeg,
		    OUTPIPE, "", "usage: /some/where/jpg2kv\n", 1, true, false},
		{"empty input", {"jpg2kv"}, "", OUTPIPE, "",
		    refusal("jpg2kv", ""), 1, false, true},
		{"not a JPEG", {"jpg2kv"}, notjpeg, OUTPIPE, "",
		    refusal("jpg2kv", notjpeg), 1, false, true},
		{"prefix from argv[0]", {"./bin/j"}, notjpeg, OUTPIPE, "",
		    refusal("./bin/j", notjpeg), 1, false, true},
		{"no image", {"jpg2kv"}, noimage, OUTPIPE, "",
		    refusal("jpg2kv", noimage), 1, false, true},
		{"CMYK", {"jpg2kv"}, cmyk, OUTPIPE, "", refusal("jpg2kv", cmyk),
		    1, false, true},
		{"YCCK", {"jpg2kv"}, ycck, OUTPIPE, "", refusal("jpg2kv", ycck),
		    1, false, true},
		{"cut after the start of image", {"jpg2kv"}, soi, OUTPIPE, "",
		    refusal("jpg2kv", soi), 1, false, true},
		{"cut inside a quantisation table", {"jpg2kv"}, dqt, OUTPIPE, "",
		    refusal("jpg2kv", dqt), 1, false, true},
		{"cut inside the frame header", {"jpg2kv"}, sof, OUTPIPE, "",
		    refusal("jpg2kv", sof), 1, false, true},
		{"cut inside a Huffman table", {"jpg2kv"}, dht, OUTPIPE, "",
		    refusal("jpg2kv", dht), 1, false, true},
		{"cut inside the scan header", {"jpg2kv"}, sos, OUTPIPE, "",
		    refusal("jpg2kv", sos), 1, false, true},
		{"cut inside the image data", {"jpg2kv"}, cut, OUTPIPE,
		    widened(cutdecoded), cutdecoded.warnings, 0, false, false},
		{"full, small", {"jpg2kv"}, small, OUTFULL, "",
		    "jpg2kv: ferror '<stdout>': No space left on device\n", 1,
		    false, false},
		{"full, large", {"jpg2kv"}, big, OUTFULL, "",
		    "jpg2kv: fwrite: No space left on device\n", 1, false, false},
		{"closed", {"jpg2kv"}, small, OUTCLOSED, "",
		    "jpg2kv: ferror '<stdout>': Bad file descriptor\n", 1, false,
		    false},
		{"closed, large", {"jpg2kv"}, big, OUTCLOSED, "",
		    "jpg2kv: fwrite: Bad file descriptor\n", 1, false, false},
	};

	for (const refusecase &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(JPG2KV, c.args, c.input, c.mode);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.out, c.out);
		if (c.readsnothing) {
			EXPECT_EQ(r.consumed, 0);
		}

		/* However libjpeg words it: one line of ours, the last. */
		const std::string prefix = c.args[0] + ": libjpeg: ";
		size_t ours = 0, last = 0;
		for (size_t at = 0; at < r.err.size();
		    at = r.err.find('\n', at) + 1) {
			last = at;
			ours += r.err.compare(at, prefix.size(), prefix) == 0;
		}
		EXPECT_EQ(ours, c.libjpeg ? 1u : 0u);
		if (c.libjpeg) {
			EXPECT_EQ(r.err.compare(last, prefix.size(), prefix), 0);
			EXPECT_GT(r.err.size() - last, prefix.size() + 1);
		}
	}
}
