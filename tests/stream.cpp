#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/testutil.h"

TEST(reallocarray, RefusesOnlyProductsThatOverflow)
{
	static const struct {
		size_t count, size;
		bool refused;
	} cases[] = {
		{(size_t)1 << 32, (size_t)1 << 32, true},
		{SIZE_MAX, 2, true},
		{2, SIZE_MAX / 2 + 1, true},
		{SIZE_MAX / 8 + 1, 8, true},
		{0, SIZE_MAX, false},
		{SIZE_MAX, 0, false},
		{0, 8, false},
		{(size_t)1 << 32, 1, false},
		{65536, 65536, false},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.count << " x " << c.size);
		errno = 0;
		void *p = reallocarray(nullptr, c.count, c.size);
		if (c.refused) {
			EXPECT_EQ(p, nullptr);
			EXPECT_EQ(errno, ENOMEM);
		} else
			EXPECT_NE(p, nullptr);
		free(p);
	}
}

TEST(reallocarray, KeepsTheBlockWhenRefused)
{
	/*
	 * volatile, or the compiler refuses the oversized call itself and
	 * takes every later use of the block for a use after free.
	 */
	volatile size_t huge = (size_t)1 << 32;
	char *volatile block = (char *)reallocarray(nullptr, 4, 2);
	ASSERT_NE(block, nullptr);
	memcpy(block, "kelvorin", 8);
	EXPECT_EQ(reallocarray(block, huge, huge), nullptr);
	EXPECT_EQ(memcmp(block, "kelvorin", 8), 0);
	block = (char *)reallocarray(block, 8, 2);
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(memcmp(block, "kelvorin", 8), 0);
	free(block);
}

TEST(xreallocarrayDeathTest, FailsOnOverflow)
{
	programname = "kv2pam";
	EXPECT_EXIT(xreallocarray(nullptr, (size_t)1 << 32, (size_t)1 << 32),
	    testing::ExitedWithCode(1),
	    testing::Eq("kv2pam: reallocarray: Out of memory\n"));
	programname = nullptr;
}

static FILE *
openstream(const char *path)
{
	FILE *f = fopen(path, "w");

	if (f == nullptr)
		ADD_FAILURE() << path << ": " << strerror(errno);
	return f;
}

TEST(closestream, OneLineAndResult)
{
	programname = "kv2pam";

	/* Nothing went wrong: no line, result 0. */
	FILE *f = openstream("/dev/null");
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	int result = 1;
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "");
	EXPECT_EQ(result, 0);

	/*
	 * The flush fails, and so does the close that flushes again: only
	 * the error indicator is reported.
	 */
	f = openstream("/dev/full");
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "kv2pam: ferror '<stdout>': No space left on device\n");
	EXPECT_EQ(result, 1);

	/* An error set long before, by a write nobody checked. */
	f = openstream("/dev/full");
	ASSERT_NE(f, nullptr);
	setvbuf(f, nullptr, _IONBF, 0);
	fputs("data", f);
	fputs("more", f);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "name"); }),
	    "kv2pam: ferror 'name': No space left on device\n");
	EXPECT_EQ(result, 1);

	/* Only the close fails: the descriptor, high so that nothing reuses
	 * it, is gone before the stream is closed. */
	int fd = open("/dev/null", O_WRONLY);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(dup2(fd, 500), 500);
	close(fd);
	f = fdopen(500, "w");
	ASSERT_NE(f, nullptr);
	close(500);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "kv2pam: fclose '<stdout>': Bad file descriptor\n");
	EXPECT_EQ(result, 1);

	programname = nullptr;
}
