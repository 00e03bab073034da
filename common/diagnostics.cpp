#include "common/common.h"

#include <errno.h>
#include <stdarg.h>
#include <string.h>

const char *programname;

const char *
displayname(void)
{
	return programname != nullptr ? programname : ownname;
}

static void vreport(const char *, va_list) __attribute__((format(printf, 1, 0)));

static void
vreport(const char *format, va_list args)
{
	/* The prefix and the message are written first and may change errno. */
	int saved = errno;
	size_t length;

	if (programname != nullptr && strncmp(format, "usage", 5) != 0)
		fprintf(stderr, "%s: ", programname);
	vfprintf(stderr, format, args);

	length = strlen(format);
	if (length > 0 && format[length - 1] == ':') {
		fputc(' ', stderr);
		errno = saved;
		perror(nullptr);
	} else
		fputc('\n', stderr);
}

extern "C" void
warn(const char *format, ...)
{
	va_list args;

	va_start(args, format);
	vreport(format, args);
	va_end(args);
}

void
fail(const char *format, ...)
{
	va_list args;

	va_start(args, format);
	vreport(format, args);
	va_end(args);
	exit(1);
}
