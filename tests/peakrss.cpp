/*
 * peakrss path argv0 [argument ...]
 *
 * Runs the program at path with the argument vector that follows, then
 * writes its peak resident set size in KiB as the last line on standard
 * error and exits with its status. A child forked straight from the test
 * process would start out with that large process's resident pages counted
 * as its own peak; a child of this small process does not.
 */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int
main(int argc, char *argv[])
{
	struct rusage usage;
	int status;
	pid_t pid;

	if (argc < 3) {
		fputs("usage: peakrss path argv0 [argument ...]\n", stderr);
		return 2;
	}
	if ((pid = fork()) == -1) {
		perror("peakrss: fork");
		return 2;
	}
	if (pid == 0) {
		execv(argv[1], argv + 2);
		perror("peakrss: execv");
		_exit(127);
	}
	if (wait4(pid, &status, 0, &usage) != pid) {
		perror("peakrss: wait4");
		return 2;
	}
	fprintf(stderr, "%ld\n", usage.ru_maxrss);
	return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
