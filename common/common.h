#ifndef COMMON_COMMON_H_
#define COMMON_COMMON_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <err.h>

/*
 * libc may declare these as well (glibc all but strtonum); they come after
 * its headers because glibc marks its reallocarray noexcept and a
 * redeclaration may not precede that. Our definitions take the place of
 * libc's in the whole process.
 */
extern "C" {
void	 warn(const char *, ...) __attribute__((format(printf, 1, 2)));
void	*reallocarray(void *, size_t, size_t);
long long	 strtonum(const char *, long long, long long, const char **);
}

#define KVMAGIC		"kelvorin"
#define KVMAGICLEN	8
#define KVHEADERLEN	16

/*
 * On standard input and output, requests of less than KVDIRECTSIZE bytes
 * are gathered in blocks of KVBLOCKSIZE, larger ones go straight to the
 * descriptor. Both sizes were measured: from about 24 KiB on, a row costs
 * less as a call of its own than copied through a block, and two blocks of
 * 128 KiB stay in the cache where blocks of 1 MiB do not.
 */
#define KVBLOCKSIZE	((size_t)128 << 10)
#define KVDIRECTSIZE	((size_t)24 << 10)

/*
 * The exporters move their rows KVBATCHSIZE bytes at a time, straight
 * between their own buffers and the descriptors. Against batches of one
 * block, this size took 5 % off kv2pam and 3 % off kv2jpg, and made no
 * difference to kv2ppm; 1 MiB gained kv2pam 3 % more and cost kv2ppm up
 * to 2 %. The cost is fixed, whatever the height of the image.
 */
#define KVBATCHSIZE	((size_t)512 << 10)

/* argv[0] as invoked; null only when the argument vector was empty. */
extern const char *programname;

/* The program's own name, defined by each program beside its main. */
extern const char ownname[];

/* programname, or ownname in its place when the argument vector was empty. */
const char	*displayname(void);

/* Never returns: prints the line and exits with status 1. */
[[noreturn]] void fail(const char *, ...) __attribute__((format(printf, 1, 2)));

/* From here on the process can only use its standard streams and memory. */
void	 confine(void);

void	 readheader(uint32_t *, uint32_t *);
void	 writeheader(uint32_t, uint32_t);
void	 xfread(void *, size_t, size_t, FILE *);
/* How many rows of size bytes move at a time: a batch's worth, or one. */
size_t	 rowbatch(size_t);
/*
 * Reads up to count rows of size bytes from standard input into a buffer
 * of rowbatch(size) rows, at least one row: when the input ends or fails,
 * the whole rows that came first are returned and the next read reports it.
 */
size_t	 xreadrows(void *, size_t, size_t);
void	 xfwrite(const void *, size_t, size_t, FILE *);
int	 closestream(FILE *, const char *);
void	*xreallocarray(void *, size_t, size_t);

long long	 xstrtonum(const char *, long long, long long);

/* count bytes to 2 x count: each byte v twice, the 16-bit v x 257. */
void	 widen(const unsigned char *, size_t, unsigned char *);

typedef void	 widenfn(const unsigned char *, size_t, unsigned char *);

struct widenvariant {
	const char	*name;
	widenfn		*run;
	int		(*supported)(void);	/* by the CPU at hand */
};

/*
 * Every way of widening, each giving the same bytes: the plain reference
 * first, the fastest last. widen runs the last one that the CPU supports.
 */
extern const struct widenvariant widenvariants[];
extern const size_t nwidenvariants;

/* 0, or 1 with the channels left untouched. */
int	 parsecolour(const char *, uint16_t[3]);

struct optionscan {
	const char *const *argv;
	int	 current;	/* the argument being examined */
	int	 letter;	/* its letter last returned; 0 outside an option */
	int	 remaining;	/* arguments not consumed yet: the operands */
};

void	 startoptions(struct optionscan *, int, const char *const *);
int	 nextoption(struct optionscan *);
/* Null when the letter is the last argument and has no value. */
const char	*optionvalue(struct optionscan *);

#endif
