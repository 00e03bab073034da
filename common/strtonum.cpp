#include <errno.h>
#include <limits.h>
#include <stdlib.h>

enum { SUCCESS, INVALID, TOOSMALL, TOOLARGE };

extern "C" long long
strtonum(const char *text, long long minimum, long long maximum,
    const char **message)
{
	static const struct {
		const char *message;
		int error;
	} outcomes[] = {
		{nullptr, 0},
		{"invalid", EINVAL},
		{"too small", ERANGE},
		{"too large", ERANGE},
	};
	int saved = errno, outcome = SUCCESS;
	long long value = 0;
	char *end;

	/* Cleared, so that ERANGE below can only come from this conversion. */
	errno = 0;
	if (minimum > maximum)
		outcome = INVALID;
	else {
		value = strtoll(text, &end, 10);
		if (end == text || *end != '\0')
			outcome = INVALID;
		else if ((value == LLONG_MIN && errno == ERANGE) ||
		    value < minimum)
			outcome = TOOSMALL;
		else if ((value == LLONG_MAX && errno == ERANGE) ||
		    value > maximum)
			outcome = TOOLARGE;
	}
	if (message != nullptr)
		*message = outcomes[outcome].message;
	errno = outcome == SUCCESS ? saved : outcomes[outcome].error;
	return outcome == SUCCESS ? value : 0;
}
