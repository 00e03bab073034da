#include <stdint.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <vector>

#include "common/common.h"
#include "jpeg/widenscanline.h"

typedef std::vector<unsigned char> bytes;

/* Each byte v as the 16-bit sample v × 257, big-endian. */
static bytes
widened(const bytes &in)
{
	bytes out;

	for (unsigned char v : in) {
		uint16_t sample = (uint16_t)(v * 257);
		out.push_back(sample >> 8);
		out.push_back(sample & 0xff);
	}
	return out;
}

/* Bytes around the output that no variant may touch. */
#define GUARD	32

/*
 * The bytes through one variant, read from inshift bytes into a buffer that
 * ends with them, so that the sanitizer sees any read past the end, and
 * written outshift bytes into a buffer with guard bytes on both sides.
 */
static bytes
runvariant(const widenvariant &v, const bytes &data, size_t inshift,
    size_t outshift)
{
	bytes in(inshift + data.size(), 0x5a);
	bytes out(GUARD + outshift + data.size() * 2 + GUARD, 0xa5);
	size_t begin = GUARD + outshift, end = begin + data.size() * 2;

	std::copy(data.begin(), data.end(), in.begin() + inshift);
	v.run(in.data() + inshift, data.size(), out.data() + begin);
	for (size_t i = 0; i < out.size(); i++)
		if ((i < begin || i >= end) && out[i] != 0xa5)
			ADD_FAILURE() << "guard byte " << (long)(i - begin) <<
			    " written";
	EXPECT_TRUE(std::equal(data.begin(), data.end(),
	    in.begin() + inshift)) << "input changed";
	return bytes(out.begin() + begin, out.begin() + end);
}

static std::vector<const widenvariant *>
runnable(void)
{
	std::vector<const widenvariant *> list;

	for (size_t i = 0; i < nwidenvariants; i++)
		if (widenvariants[i].supported())
			list.push_back(&widenvariants[i]);
	return list;
}

TEST(widenvariants, PlainOneComesFirstAndRuns)
{
	ASSERT_GE(nwidenvariants, (size_t)1);
	EXPECT_STREQ(widenvariants[0].name, "plain");
	EXPECT_TRUE(widenvariants[0].supported());
	for (const widenvariant *v : runnable())
		std::cout << "[ variant  ] " << v->name << "\n";
}

TEST(widenvariants, EveryLengthAndShift)
{
	const std::vector<const widenvariant *> variants = runnable();
	std::mt19937 random(20261215);
	std::uniform_int_distribution<unsigned> byte(0, 255);

	for (size_t length = 0; length <= 70; length++)
		for (size_t inshift = 0; inshift < 8; inshift++)
			for (size_t outshift = 0; outshift < 4; outshift++) {
				SCOPED_TRACE(testing::Message() << "length " <<
				    length << ", shifts " << inshift << " " <<
				    outshift);
				bytes data(length);
				for (unsigned char &v : data)
					v = (unsigned char)byte(random);
				bytes want = widened(data);
				for (const widenvariant *v : variants) {
					SCOPED_TRACE(v->name);
					ASSERT_EQ(runvariant(*v, data, inshift,
					    outshift), want);
				}
			}
}

TEST(widenvariants, EveryByteValue)
{
	static const size_t lengths[] = {256, 257, 1000, 5120 * 4 + 3};
	const std::vector<const widenvariant *> variants = runnable();
	std::mt19937 random(20261216);

	for (size_t length : lengths) {
		SCOPED_TRACE(length);
		bytes data(length);
		for (size_t i = 0; i < length; i++)
			data[i] = (unsigned char)i;
		std::shuffle(data.begin(), data.end(), random);
		bytes want = widened(data);
		for (const widenvariant *v : variants) {
			SCOPED_TRACE(v->name);
			EXPECT_EQ(runvariant(*v, data, 1, 3), want);
		}
	}
}

TEST(widen, RunsAVariant)
{
	bytes data = {0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff};
	bytes out(data.size() * 2 + 1, 0xa5);

	widen(data.data(), data.size(), out.data());
	EXPECT_EQ(out, (bytes{0x00, 0x00, 0x01, 0x01, 0x7f, 0x7f, 0x80, 0x80,
	    0xfe, 0xfe, 0xff, 0xff, 0xa5}));
}

/* Decoded RGB, 3 bytes a pixel, as a kelvorin row with opaque alpha. */
static bytes
kelvorinrow(const bytes &rgb)
{
	bytes row;

	for (size_t i = 0; i < rgb.size(); i += 3) {
		bytes pixel = widened({rgb[i], rgb[i + 1], rgb[i + 2]});
		row.insert(row.end(), pixel.begin(), pixel.end());
		row.insert(row.end(), {0xff, 0xff});
	}
	return row;
}

/*
 * Both ways of turning a decoded row into a kelvorin row: from plain RGB,
 * and from what the decoder delivers here, 3 or 4 bytes a pixel.
 */
TEST(widenscanline, KelvorinRowsFromDecodedRows)
{
	std::mt19937 random(20261217);
	std::uniform_int_distribution<unsigned> byte(0, 255);

	for (uint32_t width = 0; width <= 40; width++) {
		SCOPED_TRACE(width);
		bytes rgb(width * 3), scanline;
		for (unsigned char &v : rgb)
			v = (unsigned char)byte(random);
		for (uint32_t i = 0; i < width; i++) {
			scanline.insert(scanline.end(), rgb.begin() + i * 3,
			    rgb.begin() + i * 3 + 3);
			if (SCANLINEPIXEL == 4)
				scanline.push_back(0xff);
		}
		bytes want = kelvorinrow(rgb);
		want.push_back(0xa5);

		bytes out(width * 8 + 1, 0xa5);
		widenrgb(rgb.data(), width, out.data());
		EXPECT_EQ(out, want) << "widenrgb";
		std::fill(out.begin(), out.end(), 0xa5);
		widenscanline(scanline.data(), width, out.data());
		EXPECT_EQ(out, want) << "widenscanline";
	}
}
