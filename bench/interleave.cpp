/*
 * interleave [-v] [-n pairs] command1 command2
 *
 * Runs the two shell commands alternately, 1 2 1 2 ..., after one unmeasured
 * pair that loads the programs and their libraries, and prints the median
 * wall time of each in seconds and the ratio of the first to the second:
 *
 *	0.412345 0.083210 4.9555
 *
 * Each command runs as sh -c with standard input on /dev/null (a command
 * names its own input file) and standard output on /dev/null. The time is
 * taken from before the fork to after the wait, so both commands pay the
 * same shell start, and nothing is subtracted. A command that exits with
 * any status but 0 stops the run: a program that fails early would look
 * fast. With -v every time goes to standard error as it is taken.
 *
 * Interleaving spreads whatever else the machine does over both commands
 * alike; the median keeps one disturbed run from moving the result.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

[[noreturn]] static void fail(const char *, ...)
    __attribute__((format(printf, 1, 2)));

static void
fail(const char *format, ...)
{
	va_list ap;

	fputs("interleave: ", stderr);
	va_start(ap, format);
	vfprintf(stderr, format, ap);
	va_end(ap);
	fputc('\n', stderr);
	exit(1);
}

static double
now(void)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* The wall time of one run of the command, in seconds. */
static double
timerun(const char *command)
{
	double start;
	pid_t pid;
	int status, fd;

	start = now();
	if ((pid = fork()) == -1)
		fail("fork: %s", strerror(errno));
	if (pid == 0) {
		if ((fd = open("/dev/null", O_RDWR)) == -1 ||
		    dup2(fd, 0) == -1 || dup2(fd, 1) == -1)
			_exit(127);
		execl("/bin/sh", "sh", "-c", command, (char *)nullptr);
		_exit(127);
	}
	if (waitpid(pid, &status, 0) == -1)
		fail("waitpid: %s", strerror(errno));
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		fail("'%s' failed (status %d)", command, status);
	return now() - start;
}

static int
compare(const void *a, const void *b)
{
	double x = *(const double *)a, y = *(const double *)b;

	return x < y ? -1 : x > y;
}

static double
median(double *times, int count)
{
	qsort(times, count, sizeof times[0], compare);
	if (count % 2 == 1)
		return times[count / 2];
	return (times[count / 2 - 1] + times[count / 2]) / 2;
}

int
main(int argc, char *argv[])
{
	double *times[2], a, b;
	int pairs = 5, verbose = 0, letter, i, k;
	char *end;

	while ((letter = getopt(argc, argv, "n:v")) != -1) {
		switch (letter) {
		case 'n':
			pairs = (int)strtol(optarg, &end, 10);
			if (*end != '\0' || pairs < 1 || pairs > 10000)
				fail("-n %s: not a count from 1 to 10000",
				    optarg);
			break;
		case 'v':
			verbose = 1;
			break;
		default:
			fail("usage: interleave [-v] [-n pairs] command1 "
			    "command2");
		}
	}
	if (argc - optind != 2)
		fail("usage: interleave [-v] [-n pairs] command1 command2");
	argv += optind;

	for (k = 0; k < 2; k++)
		if ((times[k] = (double *)calloc(pairs, sizeof(double))) ==
		    nullptr)
			fail("out of memory");
	for (k = 0; k < 2; k++)
		timerun(argv[k]);
	for (i = 0; i < pairs; i++) {
		for (k = 0; k < 2; k++) {
			times[k][i] = timerun(argv[k]);
			if (verbose)
				fprintf(stderr, "%d %d %.6f\n", i + 1, k + 1,
				    times[k][i]);
		}
	}

	a = median(times[0], pairs);
	b = median(times[1], pairs);
	printf("%.6f %.6f %.4f\n", a, b, a / b);
	return fflush(stdout) != 0;
}
