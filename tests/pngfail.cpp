#include <gtest/gtest.h>

#include "common/common.h"
#include "png/pngfail.h"

struct pngfailcase {
	const char *name;	/* programname, or null */
	const char *message;	/* what libpng hands over */
	const char *line;	/* all that reaches standard error */
};

TEST(pngfailDeathTest, ReportsLibpngsMessageAndExitsOne)
{
	static const pngfailcase cases[] = {
		{"kv2png", "Invalid IHDR data",
		    "kv2png: libpng: Invalid IHDR data\n"},
		{"./png2kv", "Read Error", "./png2kv: libpng: Read Error\n"},
		{nullptr, "Read Error", "libpng: Read Error\n"},
		/* The message is an argument, never a format. */
		{"png2kv", "100% %s %n", "png2kv: libpng: 100% %s %n\n"},
		/* Neither its colon nor its first word changes the line. */
		{"png2kv", "ends in a colon:",
		    "png2kv: libpng: ends in a colon:\n"},
		{"png2kv", "usage: x", "png2kv: libpng: usage: x\n"},
		{"png2kv", "", "png2kv: libpng: \n"},
	};

	for (const pngfailcase &c : cases) {
		SCOPED_TRACE(c.message);
		programname = c.name;
		EXPECT_EXIT(pngfail(nullptr, c.message),
		    testing::ExitedWithCode(1), testing::Eq(c.line));
	}
	programname = nullptr;
}

TEST(pngfailDeathTest, EndsLibpngErrors)
{
	/* The error function installed in libpng is the one that exits. */
	programname = "kv2png";
	EXPECT_EXIT({
		png_structp png = png_create_write_struct(
		    PNG_LIBPNG_VER_STRING, nullptr, pngfail, nullptr);
		png_error(png, "from inside libpng");
	}, testing::ExitedWithCode(1),
	    testing::Eq("kv2png: libpng: from inside libpng\n"));
	programname = nullptr;
}
