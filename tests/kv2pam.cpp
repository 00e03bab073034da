#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/testutil.h"

TEST(kv2pam, Runs)
{
	const std::string image = kvimage(3, 2, patternpixel);
	const std::string pixels = image.substr(16);
	/* More than a block of output, in rows that the block gathers. */
	const std::string big = kvimage(300, KVBLOCKSIZE / 2400 + 1,
	    patternpixel);
	const std::string usage = "usage: kv2pam\n";

	const runcase cases[] = {
		{"no argument", {"kv2pam"}, image, OUTPIPE,
		    pamheader(3, 2) + pixels, "", 0, false},
		{"1 x 1", {"kv2pam"}, kvimage(1, 1, patternpixel), OUTPIPE,
		    pamheader(1, 1) + kvimage(1, 1, patternpixel).substr(16),
		    "", 0, false},
		{"trailing bytes", {"kv2pam"}, image + "trailing", OUTPIPE,
		    pamheader(3, 2) + pixels, "", 0, false},
		{"height 0", {"kv2pam"}, kvheader(5, 0) + "ignored", OUTPIPE,
		    pamheader(5, 0), "", 0, false},
		{"width 0", {"kv2pam"}, kvheader(0, 7), OUTPIPE,
		    pamheader(0, 7), "", 0, false},
		{"width 0, most rows", {"kv2pam"}, kvheader(0, 4294967295u),
		    OUTPIPE, pamheader(0, 4294967295u), "", 0, false},
		{"an argument", {"kv2pam", "x"}, image, OUTPIPE, "", usage, 1,
		    true},
		{"a dash", {"kv2pam", "-"}, image, OUTPIPE, "", usage, 1, true},
		{"a double dash", {"kv2pam", "--"}, image, OUTPIPE, "", usage, 1,
		    true},
		{"an empty argument", {"kv2pam", ""}, image, OUTPIPE, "", usage,
		    1, true},
		{"called by path", {"/some/where/kv2pam", "-x"}, image, OUTPIPE,
		    "", "usage: /some/where/kv2pam\n", 1, true},
		{"called by another name", {"other", "a", "b"}, image, OUTPIPE,
		    "", "usage: other\n", 1, true},
		{"empty input", {"kv2pam"}, "", OUTPIPE, "",
		    "kv2pam: fread: Unexpected end of file\n", 1, false},
		{"short header", {"kv2pam"}, image.substr(0, 15), OUTPIPE, "",
		    "kv2pam: fread: Unexpected end of file\n", 1, false},
		{"short, no magic", {"kv2pam"}, "P7\nWIDTH", OUTPIPE, "",
		    "kv2pam: fread: Unexpected end of file\n", 1, false},
		{"wrong magic", {"kv2pam"}, "Kelvorin" + image.substr(8),
		    OUTPIPE, "", "kv2pam: Invalid magic value\n", 1, false},
		{"prefix from argv[0]", {"./kv"}, "kelvorix" + image.substr(8),
		    OUTPIPE, "", "./kv: Invalid magic value\n", 1, false},
		{"cut inside a row", {"kv2pam"},
		    image.substr(0, 16 + 24 + 10), OUTPIPE,
		    pamheader(3, 2) + pixels.substr(0, 24),
		    "kv2pam: fread: Unexpected end of file\n", 1, false},
		{"cut after the header", {"kv2pam"}, image.substr(0, 16),
		    OUTPIPE, pamheader(3, 2),
		    "kv2pam: fread: Unexpected end of file\n", 1, false},
		{"full, small", {"kv2pam"}, image, OUTFULL, "",
		    "kv2pam: ferror '<stdout>': No space left on device\n", 1,
		    false},
		{"full, large", {"kv2pam"}, big, OUTFULL, "",
		    "kv2pam: fwrite: No space left on device\n", 1, false},
		{"closed", {"kv2pam"}, image, OUTCLOSED, "",
		    "kv2pam: ferror '<stdout>': Bad file descriptor\n", 1,
		    false},
		{"closed, large", {"kv2pam"}, big, OUTCLOSED, "",
		    "kv2pam: fwrite: Bad file descriptor\n", 1, false},
	};

	checkruns(KV2PAM, cases);
}

TEST(kv2pam, CopiesLargeImagesUnchanged)
{
	const std::string image = kvimage(1000, 37, patternpixel);
	runresult r = run(KV2PAM, {"kv2pam"}, image);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, pamheader(1000, 37) + image.substr(16));
}
