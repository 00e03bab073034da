#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <jpeglib.h>
#include <jerror.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jpegutil.h"
#include "tests/testutil.h"

typedef std::array<uint16_t, 3> colour;

static const colour white = {65535, 65535, 65535};
static const colour black = {0, 0, 0};

/* What libjpeg makes of 8-bit RGB rows with kv2jpg's parameters. */
static std::string
reference(uint32_t width, uint32_t height, const std::string &rgb,
    int quality, bool optimise)
{
	struct jpeg_compress_struct object;
	struct jpeg_error_mgr manager;
	char *buffer = nullptr;
	size_t size = 0;
	FILE *out = open_memstream(&buffer, &size);

	EXPECT_NE(out, nullptr);
	object.err = jpeg_std_error(&manager);
	jpeg_create_compress(&object);
	jpeg_stdio_dest(&object, out);
	object.image_width = width;
	object.image_height = height;
	object.input_components = 3;
	object.in_color_space = JCS_RGB;
	jpeg_set_defaults(&object);
	if (optimise)
		object.optimize_coding = TRUE;
	jpeg_set_quality(&object, quality, TRUE);
	jpeg_start_compress(&object, TRUE);
	for (uint32_t y = 0; y < height; y++) {
		JSAMPROW rows[1] = {
		    (JSAMPROW)&rgb[(size_t)y * width * 3]};
		jpeg_write_scanlines(&object, rows, 1);
	}
	jpeg_finish_compress(&object);
	jpeg_destroy_compress(&object);
	fclose(out);

	std::string data(buffer, size);
	free(buffer);
	return data;
}

/* Translucent colours over every alpha from 0 to 65535. */
static pixel
translucent(uint32_t x, uint32_t y)
{
	pixel p = patternpixel(x, y);

	p[3] = (uint16_t)((x * 977 + y * 6151) % 65536);
	if ((x + y) % 11 == 0)
		p[3] = 0;
	if ((x + y) % 13 == 0)
		p[3] = 65535;
	return p;
}

struct kv2jpgcommand {
	const char *name;
	std::vector<std::string> args;
	colour background;	/* what the output must be made with */
	int quality;
	bool optimise;
};

TEST(kv2jpg, WritesTheLibrarysDatastream)
{
	const uint32_t width = 37, height = 21;
	const std::string input = kvimage(width, height, translucent);
	const colour orange = {65535, 32896, 0};
	const kv2jpgcommand cases[] = {
		{"defaults", {"kv2jpg"}, white, 85, false},
		{"double dash", {"kv2jpg", "--"}, white, 85, false},
		{"lowest quality", {"kv2jpg", "-q", "0"}, white, 0, false},
		{"highest quality", {"kv2jpg", "-q100"}, white, 100, false},
		{"black", {"kv2jpg", "-b", "000"}, black, 85, false},
		{"long colour", {"kv2jpg", "-bffff80000000"},
		    {65535, 32768, 0}, 85, false},
		{"optimised", {"kv2jpg", "-o"}, white, 85, true},
		{"cluster -ob000", {"kv2jpg", "-ob000"}, black, 85, true},
		{"cluster -oq50", {"kv2jpg", "-oq50"}, white, 50, true},
		{"everything", {"kv2jpg", "-q", "60", "-o", "-b", "ff8000"},
		    orange, 60, true},
		{"last quality wins", {"kv2jpg", "-q", "10", "-q", "90"}, white,
		    90, false},
		{"last colour wins", {"kv2jpg", "-b", "fff", "-b", "000"}, black,
		    85, false},
		{"a leading sign and blank", {"kv2jpg", "-q", " +7"}, white, 7,
		    false},
	};

	for (const kv2jpgcommand &c : cases) {
		SCOPED_TRACE(c.name);
		std::string rows = compositedrows(width, height, translucent,
		    c.background.data());
		std::string expected = reference(width, height, rows,
		    c.quality, c.optimise);
		runresult r = run(KV2JPG, c.args, input + "trailing");
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_TRUE(r.out == expected) << "the datastreams differ";
	}
}

struct kv2jpgrefusal {
	const char *name;
	std::vector<std::string> args;
	std::string err;
};

TEST(kv2jpg, RefusesBadCommandLinesBeforeReading)
{
	const std::string usage =
	    "usage: kv2jpg [-b colour] [-o] [-q quality]\n";
	const kv2jpgrefusal cases[] = {
		{"quality too large", {"kv2jpg", "-q", "101"},
		    "kv2jpg: strtonum '101': too large\n"},
		{"quality too small", {"kv2jpg", "-q", "-1"},
		    "kv2jpg: strtonum '-1': too small\n"},
		{"quality not a number", {"kv2jpg", "-q", "x"},
		    "kv2jpg: strtonum 'x': invalid\n"},
		{"quality with a trailing blank", {"kv2jpg", "-q", "50 "},
		    "kv2jpg: strtonum '50 ': invalid\n"},
		{"quality empty", {"kv2jpg", "-q", ""},
		    "kv2jpg: strtonum '': invalid\n"},
		{"-qo takes o as the quality", {"kv2jpg", "-qo"},
		    "kv2jpg: strtonum 'o': invalid\n"},
		{"the value is judged before the operand",
		    {"kv2jpg", "-q", "500", "extra"},
		    "kv2jpg: strtonum '500': too large\n"},
		{"the first bad value ends it", {"kv2jpg", "-q", "x", "-b", "z"},
		    "kv2jpg: strtonum 'x': invalid\n"},
		{"bad colour", {"kv2jpg", "-b", "zzz"}, usage},
		{"colour with a hash", {"kv2jpg", "-b", "#fff"}, usage},
		{"-bo takes o as the colour", {"kv2jpg", "-bo"}, usage},
		{"-b without a value", {"kv2jpg", "-b"}, usage},
		{"-q without a value", {"kv2jpg", "-o", "-q"}, usage},
		{"an operand", {"kv2jpg", "-b", "fff", "extra"}, usage},
		{"after a double dash", {"kv2jpg", "--", "-q", "50"}, usage},
		{"a lone dash", {"kv2jpg", "-"}, usage},
		{"an unknown letter", {"kv2jpg", "-x"}, usage},
		{"--x", {"kv2jpg", "--x"}, usage},
		{"called by another name", {"./jpg", "-p"},
		    "usage: ./jpg [-b colour] [-o] [-q quality]\n"},
	};

	for (const kv2jpgrefusal &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(KV2JPG, c.args, kvimage(2, 2, patternpixel));
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.consumed, 0);
	}
}

static double
rmserror(const std::string &a, const std::string &b)
{
	double sum = 0;

	for (size_t i = 0; i < a.size() && i < b.size(); i++) {
		double d = (double)(unsigned char)a[i] - (unsigned char)b[i];
		sum += d * d;
	}
	return std::sqrt(sum / (double)a.size());
}

static pixel
transparent(uint32_t x, uint32_t y)
{
	pixel p = patternpixel(x, y);

	p[3] = 0;
	return p;
}

TEST(kv2jpg, DecodesToTheCompositedImage)
{
	const uint32_t width = 45, height = 29;

	/* Transparent pixels vanish into the background, whatever colour. */
	static const struct {
		const char *option;
		unsigned char value;
	} backgrounds[] = {{nullptr, 255}, {"-b000", 0}, {"-b808080", 128}};
	for (const auto &b : backgrounds) {
		SCOPED_TRACE(b.option != nullptr ? b.option : "white");
		std::vector<std::string> args = {"kv2jpg"};
		if (b.option != nullptr)
			args.push_back(b.option);
		runresult r = run(KV2JPG, args, kvimage(width, height,
		    transparent));
		ASSERT_EQ(r.status, 0);
		jpegdecoded d = jpegdecode(r.out);
		EXPECT_EQ(d.error, "");
		EXPECT_EQ(d.width, width);
		EXPECT_EQ(d.height, height);
		ASSERT_EQ(d.rgb.size(), (size_t)width * height * 3);
		for (size_t i = 0; i < d.rgb.size(); i++)
			ASSERT_LE(std::abs((unsigned char)d.rgb[i] - b.value), 2)
			    << "at sample " << i;
	}

	/* -o changes only the entropy coding. */
	const std::string input = kvimage(width, height, translucent);
	runresult plain = run(KV2JPG, {"kv2jpg"}, input);
	runresult optimised = run(KV2JPG, {"kv2jpg", "-o"}, input);
	ASSERT_EQ(plain.status, 0);
	ASSERT_EQ(optimised.status, 0);
	EXPECT_NE(plain.out, optimised.out);
	EXPECT_TRUE(jpegdecode(plain.out).rgb == jpegdecode(optimised.out).rgb);

	/* A higher quality comes closer to the composited input. */
	const std::string truth = compositedrows(width, height, translucent,
	    white.data());
	double previous = 1e9;
	for (const char *quality : {"5", "50", "95"}) {
		SCOPED_TRACE(quality);
		runresult r = run(KV2JPG, {"kv2jpg", "-q", quality}, input);
		ASSERT_EQ(r.status, 0);
		double error = rmserror(jpegdecode(r.out).rgb, truth);
		EXPECT_LT(error, previous);
		previous = error;
	}
}

struct kv2jpgfailure {
	const char *name;
	std::string input;
	outmode mode;
	std::string err;
	bool emptyout;
	off_t mostread;	/* how far into the input it may read */
};

TEST(kv2jpg, Failures)
{
	const std::string image = kvimage(20, 10, patternpixel);
	const std::string toowide = kvheader(JPEG_MAX_DIMENSION + 1, 1) +
	    std::string((size_t)(JPEG_MAX_DIMENSION + 1) * 8, '\0');
	const std::string toohigh = kvheader(1, JPEG_MAX_DIMENSION + 1) +
	    std::string((size_t)(JPEG_MAX_DIMENSION + 1) * 8, '\0');
	const std::string empty = "kv2jpg: libjpeg: " +
	    jpegmessage(JERR_EMPTY_IMAGE) + "\n";
	const std::string toobig = "kv2jpg: libjpeg: " +
	    jpegmessage(JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION) + "\n";
	const std::string writing = "kv2jpg: libjpeg: " +
	    jpegmessage(JERR_FILE_WRITE) + "\n";
	const std::string big = kvimage(400, 300, patternpixel);
	const off_t any = 1 << 30;
	const kv2jpgfailure cases[] = {
		{"width 0", kvheader(0, 5), OUTPIPE, empty, true, any},
		{"height 0", kvheader(5, 0), OUTPIPE, empty, true, any},
		/* The input is larger than a stdio buffer: no row was read. */
		{"too wide", toowide, OUTPIPE, toobig, true, 4096},
		{"too high", toohigh, OUTPIPE, toobig, true, 4096},
		{"cut inside the pixels", image.substr(0, image.size() - 3),
		    OUTPIPE, "kv2jpg: fread: Unexpected end of file\n", false,
		    any},
		{"short header", image.substr(0, 12), OUTPIPE,
		    "kv2jpg: fread: Unexpected end of file\n", true, any},
		{"wrong magic", "kelvorim" + image.substr(8), OUTPIPE,
		    "kv2jpg: Invalid magic value\n", true, any},
		{"full, small", image, OUTFULL, writing, true, any},
		{"full, large", big, OUTFULL, writing, true, any},
		{"closed", image, OUTCLOSED, writing, true, any},
	};

	for (const kv2jpgfailure &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = run(KV2JPG, {"kv2jpg"}, c.input, c.mode);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, c.err);
		if (c.emptyout) {
			EXPECT_EQ(r.out, "");
		}
		EXPECT_LE(r.consumed, c.mostread);
	}
}
