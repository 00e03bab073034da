/*
 * interleave [-v] [-n pairs] [-t seconds] [-w pairs] command1 command2
 *
 * Runs the two shell commands alternately, 1 2 1 2 ..., after w unmeasured
 * pairs (1) that load the programs and their libraries: n measured pairs
 * (5), and more until the measured runs add up to t seconds (0), so that
 * short commands are taken often enough for the noise to settle. Prints the
 * median wall time of each in seconds, the ratio of the first to the
 * second, and the number of measured pairs:
 *
 *	0.412345 0.083210 4.9555 5
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

#define MAXPAIRS	10000

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
	if (WIFSIGNALED(status))
		fail("'%s' killed by signal %d", command, WTERMSIG(status));
	if (WEXITSTATUS(status) != 0)
		fail("'%s' exited with status %d", command,
		    WEXITSTATUS(status));
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

static int
getcount(const char *arg, int least)
{
	char *end;
	long v;

	v = strtol(arg, &end, 10);
	if (*arg < '0' || *arg > '9' || *end != '\0' || v < least ||
	    v > MAXPAIRS)
		fail("%s: not a count from %d to %d", arg, least, MAXPAIRS);
	return (int)v;
}

int
main(int argc, char *argv[])
{
	static double times[2][MAXPAIRS];
	const char *usage = "usage: interleave [-v] [-n pairs] [-t seconds] "
	    "[-w pairs] command1 command2";
	double a, b, spent = 0, least = 0;
	int pairs = 5, warmups = 1, verbose = 0, letter, i, k;

	while ((letter = getopt(argc, argv, "n:t:vw:")) != -1) {
		switch (letter) {
		case 'n':
			pairs = getcount(optarg, 1);
			break;
		case 't':
			least = getcount(optarg, 0);
			break;
		case 'v':
			verbose = 1;
			break;
		case 'w':
			warmups = getcount(optarg, 0);
			break;
		default:
			fail("%s", usage);
		}
	}
	if (argc - optind != 2)
		fail("%s", usage);
	argv += optind;

	for (i = 0; i < warmups; i++)
		for (k = 0; k < 2; k++)
			timerun(argv[k]);
	for (i = 0; i < MAXPAIRS && (i < pairs || spent < least); i++) {
		for (k = 0; k < 2; k++) {
			times[k][i] = timerun(argv[k]);
			spent += times[k][i];
			if (verbose)
				fprintf(stderr, "%d %d %.6f\n", i + 1, k + 1,
				    times[k][i]);
		}
	}

	a = median(times[0], i);
	b = median(times[1], i);
	printf("%.6f %.6f %.4f %d\n", a, b, a / b, i);
	return fflush(stdout) != 0;
}
