#include "common/common.h"

#include <string.h>

void
startoptions(struct optionscan *scan, int argc, const char *const *argv)
{
	scan->argv = argv;
	scan->letter = 0;
	/* An empty vector has no program name to step over. */
	if (argv[0] != nullptr) {
		scan->current = 1;
		scan->remaining = argc - 1;
	} else {
		scan->current = 0;
		scan->remaining = argc;
	}
}

static void
consume(struct optionscan *scan)
{
	scan->current++;
	scan->remaining--;
}

int
nextoption(struct optionscan *scan)
{
	const char *arg = scan->argv[scan->current];

	if (scan->letter != 0) {
		if (arg[scan->letter + 1] != '\0')
			return (unsigned char)arg[++scan->letter];
		scan->letter = 0;
		consume(scan);
		arg = scan->argv[scan->current];
	}

	if (arg == nullptr || arg[0] != '-' || arg[1] == '\0')
		return 0;
	if (strcmp(arg, "--") == 0) {
		consume(scan);
		return 0;
	}
	scan->letter = 1;
	return (unsigned char)arg[1];
}

const char *
optionvalue(struct optionscan *scan)
{
	const char *arg = scan->argv[scan->current];
	int letter = scan->letter;

	/* The value ends the argument, so the option is consumed here. */
	scan->letter = 0;
	consume(scan);
	if (arg[letter + 1] != '\0')
		return arg + letter + 1;
	if ((arg = scan->argv[scan->current]) == nullptr)
		return nullptr;
	consume(scan);
	return arg;
}

long long
xstrtonum(const char *text, long long minimum, long long maximum)
{
	const char *message;
	long long value;

	value = strtonum(text, minimum, maximum, &message);
	if (message != nullptr)
		fail("strtonum '%s': %s", text, message);
	return value;
}
