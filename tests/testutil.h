#ifndef TESTS_TESTUTIL_H_
#define TESTS_TESTUTIL_H_

#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

/* Defined in builds under AddressSanitizer, with g++ or clang++. */
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SANITIZED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SANITIZED
#endif

/* Where a child's standard output goes. */
enum outmode {
	OUTPIPE,	/* a pipe that the test reads */
	OUTFULL,	/* /dev/full: every write fails with ENOSPC */
	OUTCLOSED	/* descriptor 1 closed */
};

/* What a child's standard input is. */
enum inmode {
	INFILE,		/* a file, whose offset the children share */
	INPIPE,		/* a pipe, written as fast as it is read */
	INTRICKLE	/* a pipe that never holds more than one byte */
};

struct runresult {
	std::string out;
	std::string err;
	int status;	/* exit status, or -1 when a signal ended the child */
	int signal;	/* the signal that ended it, else 0 */
	off_t consumed;	/* how far the child read into its standard input */
	long maxrss;	/* the child's peak resident memory in kilobytes; fork
			   hands down the test process's own as a floor (peakrss) */
};

/* A program to run: its path, its whole argument vector, its output. */
struct invocation {
	const char *path;
	std::vector<std::string> args;
	outmode mode;
};

/*
 * Runs the program at path with exactly the argument vector args (args[0]
 * is what the program sees as its name) and input on its standard input.
 */
runresult	run(const char *path, const std::vector<std::string> &args,
		    const std::string &input, outmode mode = OUTPIPE);

/*
 * Runs the programs one after the other on one standard input that holds
 * input, as `{ a; b; } < file` or `producer | { a; b; }` would. On a pipe
 * only the last result's consumed is known (what the pipe still held after
 * it is left out); the others' are -1.
 */
std::vector<runresult>	runseries(const std::vector<invocation> &programs,
			    const std::string &input, inmode in);

/*
 * Runs the program with its standard input on a pipe that stays empty until
 * waiting(pid) has returned, and then gets input.
 */
runresult	runwatched(const invocation &program, const std::string &input,
		    const std::function<void(pid_t)> &waiting);

/* One run of a program and the whole outcome it must have. */
struct runcase {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	outmode mode;
	std::string out;
	std::string err;
	int status;
	bool readsnothing;	/* not a byte of the input may be read */
};

/* Runs every case through the program at path and compares outcomes. */
void		checkruns(const char *path, const runcase *cases, size_t count);

template <size_t N> void
checkruns(const char *path, const runcase (&cases)[N])
{
	checkruns(path, cases, N);
}

/* Aborts with perror(what) unless ok: the harness itself has failed. */
void		check(bool ok, const char *what);

/* Everything that fn writes to descriptor 2 while it runs. */
std::string	capturestderr(const std::function<void()> &fn);

typedef std::array<uint16_t, 4> pixel;

/* The header kv2pam prints for an image of these dimensions. */
std::string	pamheader(uint32_t width, uint32_t height);

/* A kelvorin header with any dimensions. */
std::string	kvheader(uint32_t width, uint32_t height);

/* A whole kelvorin image, its pixels given by f(x, y). */
std::string	kvimage(uint32_t width, uint32_t height,
		    const std::function<pixel(uint32_t, uint32_t)> &f);

/* A pattern that gives every sample of a small image a distinct value. */
pixel		patternpixel(uint32_t x, uint32_t y);

/* A sample laid over a background by alpha and taken to 8 bits. */
unsigned char	composited(uint16_t background, uint16_t sample,
		    uint16_t alpha);

/* The 8-bit RGB rows of the image of f laid over the background. */
std::string	compositedrows(uint32_t width, uint32_t height,
		    const std::function<pixel(uint32_t, uint32_t)> &f,
		    const uint16_t background[3]);

#endif
