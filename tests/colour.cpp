#include <gtest/gtest.h>

#include "common/common.h"

struct colourcase {
	const char *text;
	int result;
	uint16_t red, green, blue;	/* the channels afterwards */
};

/* What every row finds in the channels; a failure must leave it. */
#define BEFORE	1111, 2222, 3333

TEST(parsecolour, Channels)
{
	static const colourcase cases[] = {
		{"fff", 0, 65535, 65535, 65535},
		{"000", 0, 0, 0, 0},
		{"f00", 0, 65535, 0, 0},
		{"abc", 0, 43690, 48059, 52428},
		{"FFF", 0, 65535, 65535, 65535},
		{"AbC", 0, 43690, 48059, 52428},
		{"ff8000", 0, 65535, 32896, 0},
		{"ffff80000000", 0, 65535, 32768, 0},
		{"123456789abc", 0, 4660, 22136, 39612},
		{"123456789ABC", 0, 4660, 22136, 39612},
		{"0000ffff0001", 0, 0, 65535, 1},

		/* Only the lengths 3, 6 and 12 are colours. */
		{"", 1, BEFORE},
		{"f", 1, BEFORE},
		{"ff", 1, BEFORE},
		{"ffff", 1, BEFORE},
		{"fffff", 1, BEFORE},
		{"fffffff", 1, BEFORE},
		{"ffffffff", 1, BEFORE},
		{"fffffffff", 1, BEFORE},
		{"ffffffffff", 1, BEFORE},
		{"fffffffffff", 1, BEFORE},
		{"fffffffffffff", 1, BEFORE},
		{"ffffffffffffffffffffffff", 1, BEFORE},
		{"#fff", 1, BEFORE},
		{"#ffffff", 1, BEFORE},
		{"fff ", 1, BEFORE},
		/* At an accepted length, '#' stops the first field. */
		{"#ff", 1, BEFORE},
		{"#fffff", 1, BEFORE},
		{"#fffffffffff", 1, BEFORE},

		/* Fewer than three fields convert. */
		{"ggg", 1, BEFORE},
		{"fgg", 1, BEFORE},
		{"ffg", 1, BEFORE},
		{"1g2233", 1, BEFORE},
		{"1234g5", 1, BEFORE},
		/* A field ends at the first character that cannot go on. */
		{"12345g", 0, 4626, 13364, 1285},
		{"123456789abz", 0, 4660, 22136, 2475},
		{"12 345 6789a", 0, 18, 837, 26505},

		/* White space before a field is skipped and not counted. */
		{" f f f", 0, 3855, 3855, 3855},
		{"\tf\nf f", 0, 3855, 3855, 3855},
		{"  ff  ff  ff", 0, 255, 255, 255},
		{"f f", 1, BEFORE},
		{" ff", 1, BEFORE},
		{"ff ff ", 1, BEFORE},
		{"      ", 1, BEFORE},

		/* Signs: a lone sign is no number; -1 wraps, then widens. */
		{"-12", 1, BEFORE},
		{"+++", 1, BEFORE},
		{"+f+f+f", 0, 3855, 3855, 3855},
		{"-1-1-1", 0, 65279, 65279, 65279},
		{"-0-0-0", 0, 0, 0, 0},
		{"--1122", 1, BEFORE},
		{"-fff+fff-001", 0, 61441, 4095, 65535},
	};

	for (const colourcase &c : cases) {
		SCOPED_TRACE(testing::Message() << "'" << c.text << "'");
		uint16_t channels[3] = {BEFORE};
		EXPECT_EQ(parsecolour(c.text, channels), c.result);
		EXPECT_EQ(channels[0], c.red);
		EXPECT_EQ(channels[1], c.green);
		EXPECT_EQ(channels[2], c.blue);
	}
}
