#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/jpegutil.h"
#include "tests/pngutil.h"
#include "tests/testutil.h"

/* Whatever the build or the kernel leaves out, no test may claim it. */
#if defined(CONFINESECCOMP)
static bool
kernelconfines(void)
{
	std::ifstream status("/proc/self/status");
	std::string line;

	while (std::getline(status, line))
		if (line.rfind("Seccomp:", 0) == 0)
			return true;
	return false;
}
#define SKIPUNCONFINED() do {						\
	if (!kernelconfines())						\
		GTEST_SKIP() << "the kernel has no seccomp";		\
} while (0)
#else
#define SKIPUNCONFINED()						\
	GTEST_SKIP() << "built without seccomp confinement (KELVORIN_CONFINE)"
#endif

/*
 * The confined child in the in-process tests: descriptor 0 holds INPUT, 1
 * and 2 go back to the test, 3 and 4 are the two ends of a pipe that holds
 * data, so that refusing them cannot be mistaken for a bad descriptor.
 */
#define INPUT	"input"
#define OTHERIN		3
#define OTHEROUT	4

/* Well past the size from which malloc maps its blocks of their own. */
static const size_t large = (size_t)16 << 20;

static void *
anonymous(int protection)
{
	return mmap(nullptr, large, protection, MAP_PRIVATE | MAP_ANONYMOUS,
	    -1, 0);
}

/* 0 for success, else -1 with errno set, or left at 0 for EIO. */
static int
result(bool succeeded)
{
	return succeeded ? 0 : -1;
}

struct probe {
	const char *name;
	int	 error;		/* what it must fail with; 0: it must work */
	int	 (*attempt)(void);
};

static const probe probes[] = {
	{"read 0", 0, [] {
		char buffer[sizeof INPUT - 1];
		return result(read(0, buffer, sizeof buffer) ==
		    sizeof buffer && memcmp(buffer, INPUT, sizeof buffer) == 0);
	}},
	{"write 1", 0, [] { return result(write(1, "to stdout\n", 10) == 10); }},
	{"write 2", 0, [] { return result(write(2, "to stderr\n", 10) == 10); }},
	{"small allocations", 0, [] {
		void *blocks[200];
		for (void *&block : blocks)
			if ((block = malloc(48)) == nullptr)
				return -1;
		for (void *block : blocks)
			free(block);
		return 0;
	}},
	{"large allocation", 0, [] {
		char *p = (char *)malloc(large), *q;
		if (p == nullptr)
			return -1;
		memset(p, 1, large);
		if ((q = (char *)realloc(p, 2 * large)) == nullptr)
			return -1;
		memset(q + large, 2, large);
		free(q);
		return 0;
	}},
	/* malloc falls back on brk; these show the calls themselves. */
	{"mmap and munmap", 0, [] {
		char *p = (char *)anonymous(PROT_READ | PROT_WRITE);
		if (p == MAP_FAILED)
			return -1;
		p[large - 1] = 1;
		return munmap(p, large);
	}},
	{"mremap", 0, [] {
		void *p = anonymous(PROT_READ | PROT_WRITE);
		return result(p != MAP_FAILED && mremap(p, large, 2 * large,
		    MREMAP_MAYMOVE) != MAP_FAILED);
	}},
	{"mprotect", 0, [] {
		void *p = anonymous(PROT_READ | PROT_WRITE);
		return result(p != MAP_FAILED &&
		    mprotect(p, large, PROT_READ) == 0);
	}},
	{"madvise", 0, [] {
		void *p = anonymous(PROT_READ | PROT_WRITE);
		return result(p != MAP_FAILED &&
		    madvise(p, large, MADV_DONTNEED) == 0);
	}},
	{"getrandom", 0, [] {
		char buffer[8];
		return result(getrandom(buffer, sizeof buffer,
		    GRND_NONBLOCK) == sizeof buffer);
	}},
	{"fstat 0", 0, [] {
		struct stat st;
		return result(fstat(0, &st) == 0 && S_ISFIFO(st.st_mode));
	}},
	/* Let through, and then the kernel's own answers for a pipe. */
	{"tcgetattr 0", ENOTTY, [] {
		struct termios t;
		return tcgetattr(0, &t);
	}},
	{"lseek 0", ESPIPE, [] { return result(lseek(0, 0, SEEK_CUR) != -1); }},

	{"mmap executable", ENOSYS, [] {
		return result(anonymous(PROT_READ | PROT_EXEC) != MAP_FAILED);
	}},
	{"mprotect executable", ENOSYS, [] {
		void *p = anonymous(PROT_READ | PROT_WRITE);
		return result(p != MAP_FAILED &&
		    mprotect(p, large, PROT_READ | PROT_EXEC) == 0);
	}},
	{"open", ENOSYS, [] {
		return result(open("/dev/null", O_RDONLY) != -1);
	}},
#if defined(SYS_open)
	{"the old open call", ENOSYS, [] {
		return result(syscall(SYS_open, "/dev/null", O_RDONLY) != -1);
	}},
#endif
	{"fstatat a path", ENOSYS, [] {
		struct stat st;
		return fstatat(AT_FDCWD, "/", &st, 0);
	}},
	{"socket", ENOSYS, [] {
		return result(socket(AF_UNIX, SOCK_STREAM, 0) != -1);
	}},
	{"execve", ENOSYS, [] {
		char *const argv[] = {(char *)"true", nullptr};
		return execve("/bin/true", argv, environ);
	}},
	{"fork", ENOSYS, [] {
		pid_t pid = fork();
		if (pid == 0)
			_exit(0);
		return result(pid != -1);
	}},
	{"kill", ENOSYS, [] { return kill(1, 0); }},
	{"read another", ENOSYS, [] {
		char c;
		return result(read(OTHERIN, &c, 1) != -1);
	}},
	{"read 1", ENOSYS, [] {
		char c;
		return result(read(1, &c, 1) != -1);
	}},
	{"write another", ENOSYS, [] {
		return result(write(OTHEROUT, "x", 1) != -1);
	}},
	{"write 0", ENOSYS, [] { return result(write(0, "x", 1) != -1); }},
	{"fstat another", ENOSYS, [] {
		struct stat st;
		return fstat(OTHERIN, &st);
	}},
	{"tcgetattr another", ENOSYS, [] {
		struct termios t;
		return tcgetattr(OTHERIN, &t);
	}},
	{"ioctl FIONREAD 0", ENOSYS, [] {
		int n;
		return ioctl(0, FIONREAD, &n);
	}},
	{"lseek another", ENOSYS, [] {
		return result(lseek(OTHERIN, 0, SEEK_CUR) != -1);
	}},
	{"close another", ENOSYS, [] { return close(OTHERIN); }},
};

struct childresult {
	std::string out;
	std::string err;
	int status;	/* as waitpid gives it */
};

static void
writestring(int fd, const std::string &s)
{
	check(write(fd, s.data(), s.size()) == (ssize_t)s.size(), "write");
}

static std::string
drain(int fd)
{
	std::string s;
	char buffer[4096];
	ssize_t n;

	while ((n = read(fd, buffer, sizeof buffer)) > 0)
		s.append(buffer, n);
	close(fd);
	return s;
}

/* Runs body in a forked child confined as the programs are. */
static childresult
runconfined(const std::function<void(void)> &body)
{
	int in[2], out[2], err[2], other[2];
	childresult result;
	pid_t pid;

	check(pipe(in) == 0 && pipe(out) == 0 && pipe(err) == 0 &&
	    pipe(other) == 0, "pipe");
	writestring(in[1], INPUT);
	writestring(other[1], "other");
	close(in[1]);
	fflush(nullptr);

	pid = fork();
	check(pid >= 0, "fork");
	if (pid == 0) {
		/* Above 4, so that the moves below overwrite nothing. */
		int fds[] = {in[0], out[1], err[1], other[0], other[1]};
		for (int i = 0; i < 5; i++) {
			fds[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 10);
			if (fds[i] == -1)
				_exit(125);
		}
		for (int i = 0; i < 5; i++)
			if (dup2(fds[i], i) != i)
				_exit(125);
		confine();
		body();
		exit(7);
	}
	close(in[0]);
	close(out[1]);
	close(err[1]);
	close(other[0]);
	close(other[1]);
	/* The child writes far less than a pipe holds. */
	check(waitpid(pid, &result.status, 0) == pid, "waitpid");
	result.out = drain(out[0]);
	result.err = drain(err[0]);
	return result;
}

static std::string
probeline(const char *name, int error)
{
	return std::string(name) + ": " + (error == 0 ? "works" :
	    strerror(error)) + "\n";
}

TEST(confine, LeavesOnlyTheStandardStreamsAndMemory)
{
	SKIPUNCONFINED();

	std::string expected;
	for (const probe &p : probes) {
		if (strcmp(p.name, "write 1") == 0)
			expected += "to stdout\n";
		expected += probeline(p.name, p.error);
	}

	childresult r = runconfined([] {
		for (const probe &p : probes) {
			int error;
			errno = 0;
			error = p.attempt() == 0 ? 0 : errno != 0 ? errno : EIO;
			std::string line = probeline(p.name, error);
			if (write(1, line.data(), line.size()) == -1)
				_exit(126);
		}
	});
	EXPECT_EQ(r.out, expected);
	EXPECT_EQ(r.err, "to stderr\n");
	/* exit gets through: not a signal, and its own status. */
	EXPECT_TRUE(WIFEXITED(r.status));
	EXPECT_EQ(WEXITSTATUS(r.status), 7);
}

TEST(confine, RefusedCallEndsInTheOrdinaryDiagnostic)
{
	SKIPUNCONFINED();

	childresult r = runconfined([] {
		programname = "kv2pam";
		if (open("/dev/null", O_RDONLY) == -1)
			fail("open:");
	});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "kv2pam: open: " + std::string(strerror(ENOSYS)) +
	    "\n");
	EXPECT_TRUE(WIFEXITED(r.status));
	EXPECT_EQ(WEXITSTATUS(r.status), 1);
}

#if defined(__x86_64__)
/* A 32-bit call through int 0x80; its number means what it means there. */
static long
i386call(long nr, long a, long b)
{
	long result;

	__asm__ volatile("int $0x80" : "=a"(result) : "0"(nr), "b"(a),
	    "c"(b) : "r8", "r9", "r10", "r11", "cc", "memory");
	return result;
}

TEST(confine, RefusesCallsOfAnotherArchitecture)
{
	SKIPUNCONFINED();

	/* Kernels may be built or started without 32-bit calls. */
	pid_t pid = fork();
	int status;
	check(pid >= 0, "fork");
	if (pid == 0)
		_exit(i386call(20, 0, 0) == getpid() ? 0 : 1);	/* getpid */
	check(waitpid(pid, &status, 0) == pid, "waitpid");
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		GTEST_SKIP() << "no 32-bit calls on this kernel";

	/*
	 * The 32-bit exit is number 1, write's number here: unless the
	 * architecture is checked, exit(1) would pass as a write to 1.
	 */
	childresult r = runconfined([] {
		long result = i386call(1, 1, 0);
		std::string line = "exit: " + std::to_string(result) + "\n";
		if (write(1, line.data(), line.size()) == -1)
			_exit(126);
	});
	EXPECT_EQ(r.out, "exit: " + std::to_string(-ENOSYS) + "\n");
	EXPECT_TRUE(WIFEXITED(r.status));
	EXPECT_EQ(WEXITSTATUS(r.status), 7);
}
#endif

/* One program's run and the exact bytes it must write. */
struct confinedrun {
	const char *name;
	const char *path;
	std::vector<std::string> args;
	std::string input;
	std::string out;
};

/* Blocked in a read of descriptor 0, as /proc shows it. */
static bool
waitsforinput(pid_t pid)
{
	std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
	long nr = -1;
	std::string fd;

	file >> nr >> fd;
	return nr == SYS_read && fd == "0x0";
}

static std::string
statusfield(pid_t pid, const std::string &field)
{
	std::ifstream file("/proc/" + std::to_string(pid) + "/status");
	std::string line;

	while (std::getline(file, line))
		if (line.rfind(field + ":", 0) == 0)
			return line;
	return "";
}

/* Ended, and not reaped yet: /proc shows a zombie. */
static bool
hasended(pid_t pid)
{
	std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
	std::string line;
	size_t name;

	std::getline(file, line);
	name = line.rfind(')');
	return name == std::string::npos || line.compare(name, 3, ") Z") == 0;
}

/*
 * Starts the program with its input on a pipe that stays empty until it
 * waits in a read; returns the Seccomp lines of its status from then, and
 * the outcome of the run once the pipe has had the input.
 */
static std::string
runafterwaiting(const confinedrun &c, runresult *result)
{
	std::string seccomp;

	*result = runwatched({c.path, c.args, OUTPIPE}, c.input,
	    [&](pid_t pid) {
		/* ctest's time limit ends a program that never gets there. */
		while (!waitsforinput(pid) && !hasended(pid))
			usleep(1000);
		seccomp = statusfield(pid, "Seccomp") + "\n" +
		    statusfield(pid, "Seccomp_filters");
	});
	return seccomp;
}

/*
 * What a child of this process shows once it has confined itself: one
 * filter more than this process has, which may run under one already.
 */
static std::string
confinedstatus(void)
{
	std::string filters = statusfield(getpid(), "Seccomp_filters");
	size_t tab = filters.find('\t');

	if (tab == std::string::npos)
		return "Seccomp:\t2\n";
	return "Seccomp:\t2\nSeccomp_filters:\t" +
	    std::to_string(std::stoi(filters.substr(tab + 1)) + 1);
}

static std::string
pamof(const std::string &image, uint32_t width, uint32_t height)
{
	return pamheader(width, height) + image.substr(16);
}

/* The PNG that libpng writes of a kelvorin image, 16-bit RGBA. */
static std::string
pngof(const std::string &image, uint32_t width, uint32_t height)
{
	pngpicture p{};

	p.width = width;
	p.height = height;
	p.colourtype = PNG_COLOR_TYPE_RGB_ALPHA;
	p.depth = 16;
	for (size_t i = 16; i < image.size(); i += 2)
		p.samples.push_back((uint16_t)((unsigned char)image[i] << 8 |
		    (unsigned char)image[i + 1]));
	return writepng(p);
}

/* An 8-bit RGBA PNG and the kelvorin image it stands for. */
static pixel
eightbit(uint32_t x, uint32_t y)
{
	pixel p = patternpixel(x, y);

	for (uint16_t &sample : p)
		sample = (uint16_t)((sample >> 8) * 257);
	return p;
}

static std::string
eightbitpng(uint32_t width, uint32_t height)
{
	pngpicture p{};

	p.width = width;
	p.height = height;
	p.colourtype = PNG_COLOR_TYPE_RGB_ALPHA;
	p.depth = 8;
	for (uint32_t y = 0; y < height; y++)
		for (uint32_t x = 0; x < width; x++)
			for (uint16_t sample : eightbit(x, y))
				p.samples.push_back(sample >> 8);
	return writepng(p);
}

/* What jpg2kv makes of a datastream: the library's RGB, widened. */
static std::string
widenedjpeg(const std::string &jpeg)
{
	jpegdecoded d = jpegdecode(jpeg);

	return kvimage(d.width, d.height, [&](uint32_t x, uint32_t y) {
		const char *rgb = &d.rgb[((size_t)y * d.width + x) * 3];
		return pixel{(uint16_t)((unsigned char)rgb[0] * 257),
		    (uint16_t)((unsigned char)rgb[1] * 257),
		    (uint16_t)((unsigned char)rgb[2] * 257), 65535};
	});
}

TEST(confine, EveryProgramWaitsForInputConfined)
{
	SKIPUNCONFINED();

	const uint32_t width = 19, height = 11;
	const uint16_t black[3] = {0, 0, 0}, orange[3] = {65535, 32896, 0};
	const std::string image = kvimage(width, height, patternpixel);
	const std::string rgb = compositedrows(width, height, patternpixel,
	    orange);
	/* kv2jpg's parameters are jpeg_set_defaults' for RGB input. */
	const jpegsettings jpeg = {width, height, JCS_YCbCr, 90, 2, 2, false};
	const std::string datastream = jpegimage(jpeg, patternsample);
	const std::string confined = confinedstatus();

	const confinedrun runs[] = {
		{"kv2pam", KV2PAM, {"kv2pam"}, image,
		    pamof(image, width, height)},
		{"kv2ppm", KV2PPM, {"kv2ppm", "-b", "000"}, image,
		    "P6\n19 11\n255\n" + compositedrows(width, height,
		    patternpixel, black)},
		{"kv2png", KV2PNG, {"kv2png"}, image,
		    pngof(image, width, height)},
		{"png2kv", PNG2KV, {"png2kv"}, eightbitpng(width, height),
		    kvimage(width, height, eightbit)},
		{"kv2jpg", KV2JPG, {"kv2jpg", "-q", "90", "-b", "ff8000"}, image,
		    jpegimage(jpeg, [&](uint32_t x, uint32_t y, int c) {
			return (uint8_t)rgb[((size_t)y * width + x) * 3 + c];
		    })},
		{"jpg2kv", JPG2KV, {"jpg2kv"}, datastream,
		    widenedjpeg(datastream)},
	};

	for (const confinedrun &c : runs) {
		SCOPED_TRACE(c.name);
		runresult r{};
		EXPECT_EQ(runafterwaiting(c, &r), confined);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_TRUE(r.out == c.out) << "the output differs";
	}
}
