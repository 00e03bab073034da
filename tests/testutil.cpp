#include "tests/testutil.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/common.h"

const char ownname[] = "tests";

/* The harness itself failing leaves nothing to test. */
void
check(bool ok, const char *what)
{
	if (!ok) {
		perror(what);
		abort();
	}
}

static void
writeall(int fd, const std::string &data)
{
	size_t done = 0;

	while (done < data.size()) {
		ssize_t n = write(fd, data.data() + done, data.size() - done);
		check(n > 0, "write");
		done += n;
	}
}

/*
 * Writes input into the pipe and exits; with trickle, one byte at a time,
 * each only once the pipe is empty again, so that every read gets one byte.
 * It stops early when no reader is left.
 */
static pid_t
feed(int pipefd[2], const std::string &input, bool trickle)
{
	size_t done = 0;
	ssize_t n;
	int held;
	pid_t pid;

	pid = fork();
	check(pid >= 0, "fork");
	if (pid != 0)
		return pid;
	signal(SIGPIPE, SIG_IGN);
	close(pipefd[0]);
	while (done < input.size()) {
		n = write(pipefd[1], input.data() + done,
		    trickle ? 1 : input.size() - done);
		if (n < 0)
			_exit(0);
		done += n;
		while (trickle && ioctl(pipefd[1], FIONREAD, &held) == 0 &&
		    held > 0)
			usleep(20);
	}
	_exit(0);
}

/* started, when given, is called with the child's pid once it runs. */
static runresult
runone(const invocation &program, int in,
    const std::function<void(pid_t)> &started = nullptr)
{
	runresult result{};
	int out[2], err[2], status;
	pid_t pid;
	struct rusage usage;

	check(pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0, "pipe");

	std::vector<char *> argv;
	for (const std::string &arg : program.args)
		argv.push_back(const_cast<char *>(arg.c_str()));
	argv.push_back(nullptr);

	pid = fork();
	check(pid >= 0, "fork");
	if (pid == 0) {
		signal(SIGPIPE, SIG_DFL);
		dup2(in, 0);
		dup2(err[1], 2);
		if (program.mode == OUTPIPE)
			dup2(out[1], 1);
		else if (program.mode == OUTFULL) {
			int full = open("/dev/full", O_WRONLY);
			if (full < 0)
				_exit(127);
			dup2(full, 1);
		} else
			close(1);
		execv(program.path, argv.data());
		_exit(127);
	}
	close(out[1]);
	close(err[1]);
	if (started)
		started(pid);

	struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
	std::string *sinks[2] = {&result.out, &result.err};
	int live = 2;
	while (live > 0) {
		check(poll(fds, 2, -1) >= 0 || errno == EINTR, "poll");
		for (int i = 0; i < 2; i++) {
			char buffer[65536];
			ssize_t n;

			if (fds[i].fd < 0 || fds[i].revents == 0)
				continue;
			n = read(fds[i].fd, buffer, sizeof buffer);
			if (n > 0)
				sinks[i]->append(buffer, n);
			else {
				close(fds[i].fd);
				fds[i].fd = -1;
				live--;
			}
		}
	}
	check(wait4(pid, &status, 0, &usage) == pid, "wait4");
	result.maxrss = usage.ru_maxrss;
	if (WIFEXITED(status))
		result.status = WEXITSTATUS(status);
	else {
		result.status = -1;
		result.signal = WTERMSIG(status);
	}
	return result;
}

std::vector<runresult>
runseries(const std::vector<invocation> &programs, const std::string &input,
    inmode mode)
{
	std::vector<runresult> results;
	int in, fds[2];
	pid_t writer = -1;

	if (mode == INFILE) {
		/*
		 * A memory file as standard input shares its offset with the
		 * children, which tells afterwards how much each one read.
		 */
		in = memfd_create("stdin", MFD_CLOEXEC);
		check(in >= 0, "memfd_create");
		writeall(in, input);
		check(lseek(in, 0, SEEK_SET) == 0, "lseek");
	} else {
		check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
		writer = feed(fds, input, mode == INTRICKLE);
		close(fds[1]);
		in = fds[0];
	}

	for (const invocation &program : programs) {
		results.push_back(runone(program, in));
		results.back().consumed = mode == INFILE ?
		    lseek(in, 0, SEEK_CUR) : -1;
	}

	if (mode != INFILE) {
		/* What the children left in the pipe, until the writer ends. */
		off_t left = 0;
		char buffer[65536];
		ssize_t n;
		int status;

		while ((n = read(in, buffer, sizeof buffer)) > 0)
			left += n;
		check(n == 0, "read");
		check(waitpid(writer, &status, 0) == writer, "waitpid");
		if (!results.empty())
			results.back().consumed = (off_t)input.size() - left;
	}
	close(in);
	return results;
}

runresult
runwatched(const invocation &program, const std::string &input,
    const std::function<void(pid_t)> &waiting)
{
	runresult result;
	int fds[2], status;
	pid_t writer = -1;

	check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
	result = runone(program, fds[0], [&](pid_t pid) {
		waiting(pid);
		writer = feed(fds, input, false);
		close(fds[1]);
	});
	check(waitpid(writer, &status, 0) == writer, "waitpid");
	close(fds[0]);
	return result;
}

runresult
run(const char *path, const std::vector<std::string> &args,
    const std::string &input, outmode mode)
{
	return runseries({{path, args, mode}}, input, INFILE)[0];
}

void
checkruns(const char *path, const runcase *cases, size_t count)
{
	for (size_t i = 0; i < count; i++) {
		const runcase &c = cases[i];

		SCOPED_TRACE(c.name);
		runresult r = run(path, c.args, c.input, c.mode);
		EXPECT_EQ(r.signal, 0);
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.out, c.out);
		if (c.readsnothing) {
			EXPECT_EQ(r.consumed, 0);
		}
	}
}

std::string
capturestderr(const std::function<void()> &fn)
{
	int sink, saved;
	std::string text;
	char buffer[4096];
	ssize_t n;

	fflush(stderr);
	sink = memfd_create("stderr", MFD_CLOEXEC);
	check(sink >= 0, "memfd_create");
	saved = dup(2);
	dup2(sink, 2);
	fn();
	fflush(stderr);
	dup2(saved, 2);
	close(saved);
	lseek(sink, 0, SEEK_SET);
	while ((n = read(sink, buffer, sizeof buffer)) > 0)
		text.append(buffer, n);
	close(sink);
	return text;
}

static void
append16(std::string &s, uint16_t value)
{
	s += (char)(value >> 8);
	s += (char)(value & 0xff);
}

std::string
pamheader(uint32_t width, uint32_t height)
{
	return "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " +
	    std::to_string(height) +
	    "\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
}

std::string
kvheader(uint32_t width, uint32_t height)
{
	std::string s = "kelvorin";

	append16(s, width >> 16);
	append16(s, width & 0xffff);
	append16(s, height >> 16);
	append16(s, height & 0xffff);
	return s;
}

std::string
kvimage(uint32_t width, uint32_t height,
    const std::function<pixel(uint32_t, uint32_t)> &f)
{
	std::string s = kvheader(width, height);

	for (uint32_t y = 0; y < height; y++)
		for (uint32_t x = 0; x < width; x++)
			for (uint16_t sample : f(x, y))
				append16(s, sample);
	return s;
}

pixel
patternpixel(uint32_t x, uint32_t y)
{
	uint16_t base = (uint16_t)(y * 0x1234 + x * 0x0456);

	return {(uint16_t)(base + 0x0102), (uint16_t)(base ^ 0xa5a5),
	    (uint16_t)(0xfedc - base), (uint16_t)(base * 3 + 0x0f0f)};
}

unsigned char
composited(uint16_t background, uint16_t sample, uint16_t alpha)
{
	uint64_t dividend = (uint64_t)background * (65535 - alpha) +
	    (uint64_t)sample * alpha;

	return (unsigned char)(dividend / (65535 * 257));
}

std::string
compositedrows(uint32_t width, uint32_t height,
    const std::function<pixel(uint32_t, uint32_t)> &f,
    const uint16_t background[3])
{
	std::string rgb;

	for (uint32_t y = 0; y < height; y++)
		for (uint32_t x = 0; x < width; x++) {
			pixel p = f(x, y);

			for (int c = 0; c < 3; c++)
				rgb += (char)composited(background[c], p[c],
				    p[3]);
		}
	return rgb;
}
