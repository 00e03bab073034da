#include <errno.h>
#include <limits.h>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/testutil.h"

/* Held by errno before each call: a success must give it back. */
#define SENTINEL	12345

struct numbercase {
	const char *text;
	long long minimum, maximum;
	long long value;
	const char *message;	/* null for success */
	int error;		/* errno afterwards */
};

TEST(strtonum, Outcomes)
{
	static const numbercase cases[] = {
		{"42", 0, 100, 42, nullptr, SENTINEL},
		{"100", 0, 100, 100, nullptr, SENTINEL},
		{"0", 0, 100, 0, nullptr, SENTINEL},
		{"-0", 0, 100, 0, nullptr, SENTINEL},
		{"+0", 0, 100, 0, nullptr, SENTINEL},
		{" +7", 0, 100, 7, nullptr, SENTINEL},
		{"\t\n 7", 0, 100, 7, nullptr, SENTINEL},
		{"007", 0, 100, 7, nullptr, SENTINEL},
		{"-5", -10, -1, -5, nullptr, SENTINEL},
		{"101", 0, 100, 0, "too large", ERANGE},
		{"-1", 0, 100, 0, "too small", ERANGE},
		{"99999999999999999999", 0, 100, 0, "too large", ERANGE},
		{"-99999999999999999999", 0, 100, 0, "too small", ERANGE},
		{"", 0, 100, 0, "invalid", EINVAL},
		{" ", 0, 100, 0, "invalid", EINVAL},
		{"\n", 0, 100, 0, "invalid", EINVAL},
		{"+", 0, 100, 0, "invalid", EINVAL},
		{"-", 0, 100, 0, "invalid", EINVAL},
		{"+-1", 0, 100, 0, "invalid", EINVAL},
		{"7 ", 0, 100, 0, "invalid", EINVAL},
		{"7\n", 0, 100, 0, "invalid", EINVAL},
		{"0x10", 0, 100, 0, "invalid", EINVAL},
		{"12abc", 0, 100, 0, "invalid", EINVAL},
		{"abc", 0, 100, 0, "invalid", EINVAL},
		{"1.5", 0, 100, 0, "invalid", EINVAL},
		/* Malformed is judged before the range. */
		{"999x", 0, 100, 0, "invalid", EINVAL},
		{"99999999999999999999x", 0, 100, 0, "invalid", EINVAL},
		/* Bounds the wrong way round: the text is not looked at. */
		{"5", 6, 5, 0, "invalid", EINVAL},
		{"x", 6, 5, 0, "invalid", EINVAL},
		{"5", 5, 5, 5, nullptr, SENTINEL},
		{"-9223372036854775808", LLONG_MIN, LLONG_MAX, LLONG_MIN,
		    nullptr, SENTINEL},
		{"9223372036854775807", LLONG_MIN, LLONG_MAX, LLONG_MAX,
		    nullptr, SENTINEL},
		{"-92233720368547758080", LLONG_MIN, LLONG_MAX, 0, "too small",
		    ERANGE},
		{"92233720368547758070", LLONG_MIN, LLONG_MAX, 0, "too large",
		    ERANGE},
		{"-9223372036854775809", LLONG_MIN, LLONG_MAX, 0, "too small",
		    ERANGE},
		{"9223372036854775808", LLONG_MIN, LLONG_MAX, 0, "too large",
		    ERANGE},
		/* An overflow downwards is too small whatever the bounds. */
		{"-99999999999999999999", LLONG_MIN, LLONG_MIN, 0, "too small",
		    ERANGE},
		{"99999999999999999999", LLONG_MAX, LLONG_MAX, 0, "too large",
		    ERANGE},
		/* The limits spelt out are values, not overflows. */
		{"-9223372036854775808", 0, 100, 0, "too small", ERANGE},
		{"9223372036854775807", 0, 100, 0, "too large", ERANGE},
		{"-9223372036854775808", LLONG_MIN, LLONG_MIN, LLONG_MIN,
		    nullptr, SENTINEL},
	};

	for (const numbercase &c : cases) {
		SCOPED_TRACE(testing::Message() << "'" << c.text << "' in " <<
		    c.minimum << ".." << c.maximum);
		const char *message = "untouched";
		errno = SENTINEL;
		EXPECT_EQ(strtonum(c.text, c.minimum, c.maximum, &message),
		    c.value);
		EXPECT_EQ(errno, c.error);
		if (c.message == nullptr)
			EXPECT_EQ(message, nullptr);
		else
			EXPECT_STREQ(message, c.message);

		/* Without a place for the message, the rest is the same. */
		errno = SENTINEL;
		EXPECT_EQ(strtonum(c.text, c.minimum, c.maximum, nullptr),
		    c.value);
		EXPECT_EQ(errno, c.error);
	}
}

TEST(strtonum, RestoresWhateverErrnoHeld)
{
	static const struct {
		int held;
		const char *text;
		long long value;
	} cases[] = {
		{0, "42", 42},
		{EINVAL, "42", 42},
		{-1, "42", 42},
		/* An ERANGE from before the call is no overflow of this one. */
		{ERANGE, "42", 42},
		{ERANGE, "-9223372036854775808", LLONG_MIN},
		{ERANGE, "9223372036854775807", LLONG_MAX},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.held << " " << c.text);
		errno = c.held;
		EXPECT_EQ(strtonum(c.text, LLONG_MIN, LLONG_MAX, nullptr),
		    c.value);
		EXPECT_EQ(errno, c.held);
	}
}

TEST(xstrtonum, ReturnsTheValue)
{
	programname = "kv2jpg";
	std::string err = capturestderr([] {
		EXPECT_EQ(xstrtonum("42", 0, 100), 42);
		EXPECT_EQ(xstrtonum(" -3", -3, 3), -3);
	});
	EXPECT_EQ(err, "");
	programname = nullptr;
}

TEST(xstrtonumDeathTest, FailsWithTheTextAndTheMessage)
{
	static const struct {
		const char *name;	/* programname */
		const char *text;
		const char *line;
	} cases[] = {
		{"kv2jpg", "abc", "kv2jpg: strtonum 'abc': invalid\n"},
		{"kv2jpg", "200", "kv2jpg: strtonum '200': too large\n"},
		{"kv2jpg", "101", "kv2jpg: strtonum '101': too large\n"},
		{"kv2jpg", "-1", "kv2jpg: strtonum '-1': too small\n"},
		{"kv2jpg", "", "kv2jpg: strtonum '': invalid\n"},
		{"kv2jpg", "50 ", "kv2jpg: strtonum '50 ': invalid\n"},
		/* The format ends in 's', so no system error text follows. */
		{"kv2jpg", "a:", "kv2jpg: strtonum 'a:': invalid\n"},
		{"./kv2jpg", "o", "./kv2jpg: strtonum 'o': invalid\n"},
		{nullptr, "x", "strtonum 'x': invalid\n"},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.text);
		programname = c.name;
		EXPECT_EXIT(xstrtonum(c.text, 0, 100),
		    testing::ExitedWithCode(1), testing::Eq(c.line));
	}
	programname = nullptr;
}
