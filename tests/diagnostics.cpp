#include <errno.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/testutil.h"

struct reportcase {
	const char *name;	/* programname, or null */
	const char *format;
	const char *first;	/* the arguments of the format */
	const char *second;
	const char *line;	/* all that warn prints */
};

TEST(warn, PrefixAndEnding)
{
	static const reportcase cases[] = {
		{"kv2pam", "Invalid magic value", nullptr, nullptr,
		    "kv2pam: Invalid magic value\n"},
		{"/usr/bin/kv2pam", "Invalid magic value", nullptr, nullptr,
		    "/usr/bin/kv2pam: Invalid magic value\n"},
		{nullptr, "Invalid magic value", nullptr, nullptr,
		    "Invalid magic value\n"},
		{"kv2pam", "", nullptr, nullptr, "kv2pam: \n"},
		{nullptr, "", nullptr, nullptr, "\n"},
		{"kv2pam", "usage: %s", "kv2pam", nullptr, "usage: kv2pam\n"},
		{"kv2pam", "usagex", nullptr, nullptr, "usagex\n"},
		{"kv2pam", "Usage: %s", "kv2pam", nullptr, "kv2pam: Usage: kv2pam\n"},
		{"kv2pam", "usag", nullptr, nullptr, "kv2pam: usag\n"},
		{"kv2pam", "use", nullptr, nullptr, "kv2pam: use\n"},
		{"kv2pam", "fwrite:", nullptr, nullptr,
		    "kv2pam: fwrite: No space left on device\n"},
		{nullptr, "fwrite:", nullptr, nullptr, "fwrite: No space left on device\n"},
		{"kv2pam", "ferror '%s':", "x", nullptr,
		    "kv2pam: ferror 'x': No space left on device\n"},
		{"kv2pam", ":", nullptr, nullptr, "kv2pam: : No space left on device\n"},
		/* The ending follows the format, not the expanded text. */
		{"kv2pam", "strtonum '%s': %s", "abc", "a:",
		    "kv2pam: strtonum 'abc': a:\n"},
		{"kv2pam", "%s", "ends in a colon:", nullptr,
		    "kv2pam: ends in a colon:\n"},
	};

	for (const reportcase &c : cases) {
		SCOPED_TRACE(c.format);
		programname = c.name;
		std::string got = capturestderr([&] {
			errno = ENOSPC;
			warn(c.format, c.first, c.second);
		});
		EXPECT_EQ(got, c.line);
	}
	programname = nullptr;
}

TEST(displayname, FallsBackToOwnName)
{
	programname = nullptr;
	EXPECT_STREQ(displayname(), "tests");
	programname = "./bin/kv2pam";
	EXPECT_STREQ(displayname(), "./bin/kv2pam");
	programname = nullptr;
}

TEST(failDeathTest, PrintsOneLineAndExitsOne)
{
	programname = "kv2pam";
	EXPECT_EXIT(fail("Invalid magic value"), testing::ExitedWithCode(1),
	    testing::Eq("kv2pam: Invalid magic value\n"));
	EXPECT_EXIT(fail("usage: %s", displayname()),
	    testing::ExitedWithCode(1), testing::Eq("usage: kv2pam\n"));
	programname = nullptr;
	EXPECT_EXIT(fail("usage: %s", displayname()),
	    testing::ExitedWithCode(1), testing::Eq("usage: tests\n"));
}

TEST(failDeathTest, FlushesWhatWasWritten)
{
	/* exit, not _exit: buffered output reaches the stream. */
	FILE *f = tmpfile();
	ASSERT_NE(f, nullptr);
	int fd = dup(fileno(f));
	EXPECT_EXIT({ fputs("written", f); fail("late"); },
	    testing::ExitedWithCode(1), testing::Eq("late\n"));
	char buffer[16] = "";
	EXPECT_EQ(pread(fd, buffer, sizeof buffer - 1, 0), 7);
	EXPECT_STREQ(buffer, "written");
	close(fd);
	fclose(f);
}
