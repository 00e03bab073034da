#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/common.h"

/*
 * Scans args as a program whose letters b and q take a value and o does not
 * would, and tells what it met: each letter with its value in brackets, then
 * "| " and the remaining count; or, where such a program would print its
 * usage line, the letter and "!" (unknown) or "(null)" (no value) last.
 */
static std::string
scan(const std::vector<const char *> &args)
{
	std::vector<const char *> argv(args);
	struct optionscan state;
	std::string seen;
	const char *value;
	int letter;

	argv.push_back(nullptr);
	startoptions(&state, (int)args.size(), argv.data());
	while ((letter = nextoption(&state)) != 0) {
		seen += (char)letter;
		switch (letter) {
		case 'b':
		case 'q':
			if ((value = optionvalue(&state)) == nullptr)
				return seen + "(null)";
			seen += std::string("[") + value + "]";
			break;
		case 'o':
			break;
		default:
			return seen + "!";
		}
		seen += " ";
	}
	return seen + "| " + std::to_string(state.remaining);
}

TEST(optionscan, Sequence)
{
	static const struct {
		std::vector<const char *> args;
		const char *seen;
	} cases[] = {
		{{"prog"}, "| 0"},
		/* An empty vector: nothing to step over, nothing to scan. */
		{{}, "| 0"},
		{{"prog", "-o"}, "o | 0"},
		{{"prog", "-b", "fff"}, "b[fff] | 0"},
		{{"prog", "-bfff"}, "b[fff] | 0"},
		{{"prog", "-ob000"}, "o b[000] | 0"},
		{{"prog", "-oq50"}, "o q[50] | 0"},
		{{"prog", "-oo", "-o"}, "o o o | 0"},
		{{"prog", "-q50", "-o"}, "q[50] o | 0"},
		{{"prog", "-o", "-q", "50", "-b", "abc"}, "o q[50] b[abc] | 0"},
		/* A value ends its argument, whatever follows the letter. */
		{{"prog", "-bo"}, "b[o] | 0"},
		{{"prog", "-qo"}, "q[o] | 0"},
		{{"prog", "-bq", "50"}, "b[q] | 1"},
		/* A separate value is taken as it stands. */
		{{"prog", "-b", "-1"}, "b[-1] | 0"},
		{{"prog", "-b", "-o"}, "b[-o] | 0"},
		{{"prog", "-b", "--"}, "b[--] | 0"},
		{{"prog", "-b", "--", "-o"}, "b[--] o | 0"},
		{{"prog", "-b", ""}, "b[] | 0"},
		{{"prog", "-b", "-"}, "b[-] | 0"},
		/* A value letter at the end. */
		{{"prog", "-b"}, "b(null)"},
		{{"prog", "-ob"}, "o b(null)"},
		{{"prog", "-b", "fff", "-q"}, "b[fff] q(null)"},
		/* Unknown letters, a '-' among them. */
		{{"prog", "-x"}, "x!"},
		{{"prog", "--x"}, "-!"},
		{{"prog", "-o-"}, "o -!"},
		{{"prog", "-ox", "-b"}, "o x!"},
		{{"prog", "-o", "-x", "file"}, "o x!"},
		/* "--" ends the options and is consumed; what follows remains. */
		{{"prog", "--"}, "| 0"},
		{{"prog", "-o", "--"}, "o | 0"},
		{{"prog", "--", "-b", "fff"}, "| 2"},
		{{"prog", "--", "--"}, "| 1"},
		{{"prog", "-o", "--", "-o"}, "o | 1"},
		/* "-", an empty argument or any other operand ends them too. */
		{{"prog", "-"}, "| 1"},
		{{"prog", "-o", "-"}, "o | 1"},
		{{"prog", "-", "-o"}, "| 2"},
		{{"prog", ""}, "| 1"},
		{{"prog", "", "-o"}, "| 2"},
		{{"prog", "file"}, "| 1"},
		{{"prog", "-o", "file", "-o"}, "o | 2"},
		/* Options act in order: values before the operand is found. */
		{{"prog", "-b", "fff", "-b", "000"}, "b[fff] b[000] | 0"},
		{{"prog", "-q", "500", "extra"}, "q[500] | 1"},
		{{"prog", "-b", "fff", "extra"}, "b[fff] | 1"},
		{{"prog", "-bzzz", "-b000", "a", "b"}, "b[zzz] b[000] | 2"},
	};

	for (const auto &c : cases) {
		std::string line;
		for (const char *arg : c.args)
			line += std::string(" '") + arg + "'";
		SCOPED_TRACE(line);
		EXPECT_EQ(scan(c.args), c.seen);
	}
}
