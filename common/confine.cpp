#include "common/common.h"

#include <errno.h>

/*
 * CMake picks at most one of CONFINESECCOMP, CONFINEPLEDGE and
 * CONFINECAPSICUM by what the system offers, and none when confinement is
 * turned off.
 */
#if defined(CONFINESECCOMP)
#include <stddef.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#elif defined(CONFINEPLEDGE)
#include <unistd.h>
#elif defined(CONFINECAPSICUM)
#include <sys/capsicum.h>
#endif
#if defined(CONFINEVALGRIND)
#include <valgrind/valgrind.h>
#endif

/*
 * The numbers in a filter belong to one architecture; elsewhere (x32
 * builds included) the programs run unconfined rather than guess.
 */
#if defined(CONFINESECCOMP)
#if defined(__x86_64__) && !defined(__ILP32__)
#define SECCOMPARCH	AUDIT_ARCH_X86_64
#elif defined(__i386__)
#define SECCOMPARCH	AUDIT_ARCH_I386
#elif defined(__aarch64__) && defined(__AARCH64EL__)
#define SECCOMPARCH	AUDIT_ARCH_AARCH64
#endif
#endif

#if defined(SECCOMPARCH)
enum argcheck {
	ANYARGS,	/* nothing to check */
	DESCRIPTOR,	/* the first argument is a descriptor in [first, last] */
	TERMINAL,	/* that, and the request is TCGETS: isatty */
	NOEXEC		/* the third argument, a protection, lacks PROT_EXEC */
};

struct allowance {
	long	 nr;
	enum argcheck check;
	uint32_t first, last;
};

/*
 * What a run does after its command line, as traced over the test suite and
 * large images: read its input, write its output and its diagnostics, let
 * stdio ask about the standard descriptors (newfstatat, the isatty ioctl,
 * lseek to leave the input where it stopped, close), take and give back
 * memory, and exit. getrandom keys the allocator's check for blocks freed
 * twice. fstat, mremap, mprotect and madvise did not show up here but are
 * what libc and its allocator use for the same ends elsewhere. The filter
 * runs on every call, so the busiest come first.
 */
static const struct allowance allowances[] = {
	{SYS_read, DESCRIPTOR, 0, 0},
	{SYS_write, DESCRIPTOR, 1, 2},
	{SYS_brk, ANYARGS, 0, 0},
#if defined(SYS_mmap2)
	/* i386's old mmap takes its arguments in memory, out of reach. */
	{SYS_mmap2, NOEXEC, 0, 0},
#else
	{SYS_mmap, NOEXEC, 0, 0},
#endif
	{SYS_munmap, ANYARGS, 0, 0},
	{SYS_mremap, ANYARGS, 0, 0},
	{SYS_mprotect, NOEXEC, 0, 0},
	{SYS_madvise, ANYARGS, 0, 0},
#if defined(SYS_newfstatat)
	{SYS_newfstatat, DESCRIPTOR, 0, 2},
#endif
#if defined(SYS_fstatat64)
	{SYS_fstatat64, DESCRIPTOR, 0, 2},
#endif
#if defined(SYS_fstat64)
	{SYS_fstat64, DESCRIPTOR, 0, 2},
#endif
	{SYS_fstat, DESCRIPTOR, 0, 2},
	{SYS_ioctl, TERMINAL, 0, 2},
	{SYS_lseek, DESCRIPTOR, 0, 2},
#if defined(SYS__llseek)
	{SYS__llseek, DESCRIPTOR, 0, 2},
#endif
	{SYS_close, DESCRIPTOR, 0, 2},
#if defined(SYS_getrandom)
	{SYS_getrandom, ANYARGS, 0, 0},
#endif
	{SYS_exit_group, ANYARGS, 0, 0},
};

#define NALLOWANCES	(sizeof allowances / sizeof allowances[0])

/* A refusal looks like a call the kernel lacks: libc falls back if it can. */
#define REFUSE	(SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA))
#define ALLOW	SECCOMP_RET_ALLOW

/*
 * The low half of an argument: the kernel takes descriptors and ioctl
 * requests as 32-bit values, and PROT_EXEC lies in it too.
 */
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define ARGUMENT(i)	(offsetof(struct seccomp_data, args) + (i) * 8 + 4)
#else
#define ARGUMENT(i)	(offsetof(struct seccomp_data, args) + (i) * 8)
#endif

struct filter {
	struct sock_filter code[8 + NALLOWANCES * 8];
	unsigned short length;
};

static void
put(struct filter *f, uint16_t code, uint32_t k, uint8_t jt = 0,
    uint8_t jf = 0)
{
	f->code[f->length++] = {code, jt, jf, k};
}

/* The steps after the number matched; each path ends in a return. */
static void
putcheck(struct filter *f, const struct allowance *a)
{
	switch (a->check) {
	case ANYARGS:
		break;
	case DESCRIPTOR:
	case TERMINAL:
		/*
		 * Less the first, descriptors below it wrap round to huge
		 * values: one unsigned comparison checks the whole range.
		 */
		put(f, BPF_LD | BPF_W | BPF_ABS, ARGUMENT(0));
		if (a->first != 0)
			put(f, BPF_ALU | BPF_SUB | BPF_K, a->first);
		if (a->check == DESCRIPTOR) {
			put(f, BPF_JMP | BPF_JGE | BPF_K,
			    a->last - a->first + 1, 0, 1);
			put(f, BPF_RET | BPF_K, REFUSE);
			break;
		}
		put(f, BPF_JMP | BPF_JGE | BPF_K, a->last - a->first + 1, 2, 0);
		put(f, BPF_LD | BPF_W | BPF_ABS, ARGUMENT(1));
		put(f, BPF_JMP | BPF_JEQ | BPF_K, TCGETS, 1, 0);
		put(f, BPF_RET | BPF_K, REFUSE);
		break;
	case NOEXEC:
		put(f, BPF_LD | BPF_W | BPF_ABS, ARGUMENT(2));
		put(f, BPF_JMP | BPF_JSET | BPF_K, PROT_EXEC, 0, 1);
		put(f, BPF_RET | BPF_K, REFUSE);
		break;
	}
	put(f, BPF_RET | BPF_K, ALLOW);
}

static void
build(struct filter *f)
{
	struct filter check;
	size_t i;

	f->length = 0;
	/* A call of another architecture's numbering means something else. */
	put(f, BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch));
	put(f, BPF_JMP | BPF_JEQ | BPF_K, SECCOMPARCH, 1, 0);
	put(f, BPF_RET | BPF_K, REFUSE);
	put(f, BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
#if defined(__x86_64__)
	/* x32 calls carry the same architecture, told apart by this bit. */
	put(f, BPF_JMP | BPF_JGE | BPF_K, __X32_SYSCALL_BIT, 0, 1);
	put(f, BPF_RET | BPF_K, REFUSE);
#endif
	for (i = 0; i < NALLOWANCES; i++) {
		check.length = 0;
		putcheck(&check, &allowances[i]);
		put(f, BPF_JMP | BPF_JEQ | BPF_K, (uint32_t)allowances[i].nr,
		    0, (uint8_t)check.length);
		for (unsigned short j = 0; j < check.length; j++)
			f->code[f->length++] = check.code[j];
	}
	put(f, BPF_RET | BPF_K, REFUSE);
}
#endif

void
confine(void)
{
#if defined(CONFINEVALGRIND)
	/* valgrind makes calls of its own in the program's name. */
	if (RUNNING_ON_VALGRIND)
		return;
#endif
#if defined(SECCOMPARCH)
	struct filter f;
	struct sock_fprog program;

	build(&f);
	program.len = f.length;
	program.filter = f.code;
	/* No privilege is needed once the process can gain none. */
	if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == -1 ||
	    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == -1) {
		/* A kernel without seccomp: run as before. */
		if (errno == EINVAL)
			return;
		fail("seccomp:");
	}
#elif defined(CONFINEPLEDGE)
	if (pledge("stdio", nullptr) == -1)
		fail("pledge:");
#elif defined(CONFINECAPSICUM)
	/* A kernel without Capsicum: run as before. */
	if (cap_enter() == -1 && errno != ENOSYS)
		fail("cap_enter:");
#endif
}
