#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/jpegutil.h"
#include "tests/pngutil.h"
#include "tests/testutil.h"

TEST(reallocarray, RefusesOnlyProductsThatOverflow)
{
	static const struct {
		size_t count, size;
		bool refused;
	} cases[] = {
		{(size_t)1 << 32, (size_t)1 << 32, true},
		{SIZE_MAX, 2, true},
		{2, SIZE_MAX / 2 + 1, true},
		{SIZE_MAX / 8 + 1, 8, true},
		{0, SIZE_MAX, false},
		{SIZE_MAX, 0, false},
		{0, 8, false},
		{(size_t)1 << 32, 1, false},
		{65536, 65536, false},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.count << " x " << c.size);
		errno = 0;
		void *p = reallocarray(nullptr, c.count, c.size);
		if (c.refused) {
			EXPECT_EQ(p, nullptr);
			EXPECT_EQ(errno, ENOMEM);
		} else
			EXPECT_NE(p, nullptr);
		free(p);
	}
}

TEST(reallocarray, KeepsTheBlockWhenRefused)
{
	/*
	 * volatile, or the compiler refuses the oversized call itself and
	 * takes every later use of the block for a use after free.
	 */
	volatile size_t huge = (size_t)1 << 32;
	char *volatile block = (char *)reallocarray(nullptr, 4, 2);
	ASSERT_NE(block, nullptr);
	memcpy(block, "kelvorin", 8);
	EXPECT_EQ(reallocarray(block, huge, huge), nullptr);
	EXPECT_EQ(memcmp(block, "kelvorin", 8), 0);
	block = (char *)reallocarray(block, 8, 2);
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(memcmp(block, "kelvorin", 8), 0);
	free(block);
}

TEST(xreallocarrayDeathTest, FailsOnOverflow)
{
	programname = "kv2pam";
	EXPECT_EXIT(xreallocarray(nullptr, (size_t)1 << 32, (size_t)1 << 32),
	    testing::ExitedWithCode(1),
	    testing::Eq("kv2pam: reallocarray: Out of memory\n"));
	programname = nullptr;
}

TEST(xfreadDeathTest, OtherStreamsKeepTheirOwnReading)
{
	static char data[] = "kelvorin";
	unsigned char buffer[8];
	FILE *f = fmemopen(data, 8, "r");

	ASSERT_NE(f, nullptr);
	programname = "kv2pam";
	xfread(buffer, 4, 2, f);
	EXPECT_EQ(memcmp(buffer, "kelvorin", 8), 0);
	EXPECT_EXIT(xfread(buffer, 1, 1, f), testing::ExitedWithCode(1),
	    testing::Eq("kv2pam: fread: Unexpected end of file\n"));
	fclose(f);
	programname = nullptr;
}

TEST(xfwriteDeathTest, OtherStreamsKeepTheirOwnWriting)
{
	FILE *f = fopen("/dev/full", "w");

	ASSERT_NE(f, nullptr);
	setvbuf(f, nullptr, _IONBF, 0);
	programname = "kv2pam";
	EXPECT_EXIT(xfwrite("kelvorin", 4, 2, f), testing::ExitedWithCode(1),
	    testing::Eq("kv2pam: fwrite: No space left on device\n"));
	fclose(f);
	programname = nullptr;
}

static FILE *
openstream(const char *path)
{
	FILE *f = fopen(path, "w");

	if (f == nullptr)
		ADD_FAILURE() << path << ": " << strerror(errno);
	return f;
}

TEST(closestream, OneLineAndResult)
{
	programname = "kv2pam";

	/* Nothing went wrong: no line, result 0. */
	FILE *f = openstream("/dev/null");
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	int result = 1;
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "");
	EXPECT_EQ(result, 0);

	/*
	 * The flush fails, and so does the close that flushes again: only
	 * the error indicator is reported.
	 */
	f = openstream("/dev/full");
	ASSERT_NE(f, nullptr);
	fputs("data", f);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "kv2pam: ferror '<stdout>': No space left on device\n");
	EXPECT_EQ(result, 1);

	/* An error set long before, by a write nobody checked. */
	f = openstream("/dev/full");
	ASSERT_NE(f, nullptr);
	setvbuf(f, nullptr, _IONBF, 0);
	fputs("data", f);
	fputs("more", f);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "name"); }),
	    "kv2pam: ferror 'name': No space left on device\n");
	EXPECT_EQ(result, 1);

	/* Only the close fails: the descriptor, high so that nothing reuses
	 * it, is gone before the stream is closed. */
	int fd = open("/dev/null", O_WRONLY);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(dup2(fd, 500), 500);
	close(fd);
	f = fdopen(500, "w");
	ASSERT_NE(f, nullptr);
	close(500);
	EXPECT_EQ(capturestderr([&] { result = closestream(f, "<stdout>"); }),
	    "kv2pam: fclose '<stdout>': Bad file descriptor\n");
	EXPECT_EQ(result, 1);

	programname = nullptr;
}

static uint16_t
get16(const std::string &s, size_t at)
{
	return (uint16_t)((unsigned char)s[at] << 8 | (unsigned char)s[at + 1]);
}

static uint32_t
get32(const std::string &s, size_t at)
{
	return (uint32_t)get16(s, at) << 16 | get16(s, at + 2);
}

/* What kv2pam or kv2ppm writes for the header and the first rows of image. */
static std::string
pnmoutput(const std::string &program, const std::string &image,
    uint32_t rows)
{
	uint32_t width = get32(image, 8), height = get32(image, 12);
	size_t end = 16 + (size_t)rows * width * 8;
	std::string s;

	if (program == "kv2pam")
		return pamheader(width, height) + image.substr(16, end - 16);
	s = "P6\n" + std::to_string(width) + " " + std::to_string(height) +
	    "\n255\n";
	for (size_t at = 16; at < end; at += 8)
		for (int c = 0; c < 3; c++)
			s += (char)composited(65535, get16(image, at + 2 * c),
			    get16(image, at + 6));
	return s;
}

static bool
computable(const invocation &program)
{
	return program.args[0] == "kv2pam" || program.args[0] == "kv2ppm";
}

/*
 * The whole output of the program for image. kv2pam's and kv2ppm's is
 * worked out here; kv2png's and kv2jpg's is the program's own, from a file,
 * once its decoding has been checked against the image.
 */
static std::string
wholeoutput(const invocation &program, const std::string &image)
{
	uint32_t width = get32(image, 8), height = get32(image, 12);

	if (computable(program))
		return pnmoutput(program.args[0], image, height);

	runresult r = run(program.path, program.args, image);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	if (program.args[0] == "kv2png") {
		decodedpng d = readpng(r.out);
		EXPECT_EQ(d.width, width);
		EXPECT_EQ(d.height, height);
		EXPECT_TRUE(d.pixels == image.substr(16))
		    << "the PNG's pixels differ from the image's";
	} else {
		jpegdecoded d = jpegdecode(r.out);
		EXPECT_EQ(d.error, "");
		EXPECT_EQ(d.width, width);
		EXPECT_EQ(d.height, height);
	}
	return r.out;
}

static std::string
modename(inmode mode)
{
	return mode == INFILE ? "file" : mode == INPIPE ? "pipe" :
	    "pipe, a byte at a time";
}

/* Row widths that the stream layer treats differently. */
static const uint32_t narrowrow = 7;		/* gathered in blocks */
static const uint32_t belowdirect = KVDIRECTSIZE / 8 - 1;
static const uint32_t atdirect = KVDIRECTSIZE / 8;
static const uint32_t widerthanblock = KVBLOCKSIZE / 8 + 3;
/* Enough narrow rows to fill the block twice and end inside a third. */
static const uint32_t manyrows = 2 * KVBLOCKSIZE / (narrowrow * 8) + 5;
/* The same for the exporters' batches of rows. */
static const uint32_t batchrows = 2 * KVBATCHSIZE / (narrowrow * 8) + 5;

static pixel
otherpixel(uint32_t x, uint32_t y)
{
	pixel p = patternpixel(y, x);

	p[3] = (uint16_t)(x * 40503 + y * 9);
	return p;
}

static const invocation exporters[] = {
	{KV2PAM, {"kv2pam"}, OUTPIPE},
	{KV2PPM, {"kv2ppm"}, OUTPIPE},
	{KV2PNG, {"kv2png"}, OUTPIPE},
	{KV2JPG, {"kv2jpg"}, OUTPIPE},
};

/* Names the row in failure messages. */
static void
PrintTo(const invocation &program, std::ostream *os)
{
	*os << program.args[0];
}

class exporterstream : public testing::TestWithParam<invocation> {
};

TEST_P(exporterstream, ReadsImagesBackToBack)
{
	static const struct {
		const char *name;
		uint32_t width[2], height[2];
		bool trickles;	/* small enough to arrive a byte at a time */
		bool pnmonly;	/* an empty image, which the codecs refuse */
	} cases[] = {
		{"small", {3, 5}, {2, 1}, true, false},
		{"narrow rows, then direct ones", {narrowrow, atdirect},
		    {manyrows, 3}, false, false},
		{"two batches and more, then small", {narrowrow, 3},
		    {batchrows, 2}, false, false},
		{"rows wider than the block, then of one pixel",
		    {widerthanblock, 1}, {2, manyrows}, false, false},
		{"rows just below direct, then narrow", {belowdirect, narrowrow},
		    {12, 3}, false, false},
		{"height 0, then small", {5, 2}, {0, 2}, true, true},
		{"width 0, then small", {0, 2}, {7, 2}, true, true},
	};
	const invocation &program = GetParam();

	for (const auto &c : cases) {
		if (c.pnmonly && !computable(program))
			continue;
		SCOPED_TRACE(c.name);
		const std::string a = kvimage(c.width[0], c.height[0],
		    patternpixel);
		const std::string b = kvimage(c.width[1], c.height[1],
		    otherpixel);
		const std::string expected[2] = {wholeoutput(program, a),
		    wholeoutput(program, b)};

		for (inmode mode : {INFILE, INPIPE, INTRICKLE}) {
			if (mode == INTRICKLE && !c.trickles)
				continue;
			SCOPED_TRACE(modename(mode));
			std::vector<runresult> r = runseries({program, program},
			    a + b + "trailing", mode);
			for (int i = 0; i < 2; i++) {
				SCOPED_TRACE(i == 0 ? "first" : "second");
				EXPECT_EQ(r[i].signal, 0);
				EXPECT_EQ(r[i].status, 0);
				EXPECT_EQ(r[i].err, "");
				EXPECT_TRUE(r[i].out == expected[i])
				    << "the outputs differ";
			}
			if (mode == INFILE) {
				EXPECT_EQ(r[0].consumed, (off_t)a.size());
			}
			EXPECT_EQ(r[1].consumed, (off_t)(a.size() + b.size()));
		}
	}
}

TEST_P(exporterstream, StopsWhereTheInputIsCut)
{
	static const size_t narrow = (size_t)narrowrow * 8;
	static const size_t direct = (size_t)atdirect * 8;
	static const size_t wide = (size_t)widerthanblock * 8;
	static const struct {
		const char *name;
		uint32_t width, height;
		size_t cut;		/* the input bytes that are left */
		uint32_t rows;		/* complete rows among them */
		bool trickles;
	} cases[] = {
		{"in the header", 3, 2, 9, 0, true},
		{"after the header", 3, 2, 16, 0, true},
		{"inside a row", 3, 2, 16 + 24 + 10, 1, true},
		{"at a row boundary", 3, 4, 16 + 2 * 24, 2, true},
		{"before the last byte", 3, 2, 16 + 47, 1, true},
		{"inside a block", narrowrow, manyrows,
		    16 + KVBLOCKSIZE + KVBLOCKSIZE / 2 + 5,
		    (uint32_t)((KVBLOCKSIZE + KVBLOCKSIZE / 2 + 5) / narrow),
		    false},
		{"at the end of a block", narrowrow, manyrows, 16 + KVBLOCKSIZE,
		    (uint32_t)(KVBLOCKSIZE / narrow), false},
		{"inside a batch", narrowrow, batchrows,
		    16 + KVBATCHSIZE + KVBATCHSIZE / 2 + 5,
		    (uint32_t)((KVBATCHSIZE + KVBATCHSIZE / 2 + 5) / narrow),
		    false},
		{"at the end of a batch", narrowrow, batchrows,
		    16 + rowbatch(narrow) * narrow, (uint32_t)rowbatch(narrow),
		    false},
		{"in the last block", narrowrow, manyrows,
		    16 + (size_t)manyrows * narrow - 3, manyrows - 1, false},
		{"inside a direct row", atdirect, 4, 16 + 2 * direct + 1000, 2,
		    false},
		{"inside a row wider than the block", widerthanblock, 3,
		    16 + wide + KVBLOCKSIZE / 2, 1, false},
	};
	const invocation &program = GetParam();
	const std::string eof = program.args[0] +
	    ": fread: Unexpected end of file\n";

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string image = kvimage(c.width, c.height,
		    patternpixel);
		const std::string input = image.substr(0, c.cut);
		std::string expected;

		/* kv2png and kv2jpg leave what their libraries had written. */
		if (c.cut < 16)
			expected = "";
		else if (computable(program))
			expected = pnmoutput(program.args[0], image, c.rows);
		else
			expected = wholeoutput(program, image);

		for (inmode mode : {INFILE, INPIPE, INTRICKLE}) {
			if (mode == INTRICKLE && !c.trickles)
				continue;
			SCOPED_TRACE(modename(mode));
			runresult r = runseries({program}, input, mode)[0];
			EXPECT_EQ(r.signal, 0);
			EXPECT_EQ(r.status, 1);
			EXPECT_EQ(r.err, eof);
			if (computable(program) || c.cut < 16) {
				EXPECT_TRUE(r.out == expected)
				    << "the outputs differ";
			} else {
				EXPECT_TRUE(expected.compare(0, r.out.size(),
				    r.out) == 0) << "not the start of the "
				    "whole image's output";
			}
			EXPECT_EQ(r.consumed, (off_t)input.size());
		}
	}
}

/*
 * The peak resident set in KiB of a run of the program on input, measured
 * away from this large process by peakrss.
 */
static long
peakkib(const invocation &program, const std::string &input)
{
	std::vector<std::string> args = {"peakrss", program.path};
	long kib;

	args.insert(args.end(), program.args.begin(), program.args.end());
	runresult r = run(PEAKRSS, args, input);
	EXPECT_EQ(r.status, 0);
	kib = strtol(r.err.c_str(), nullptr, 10);
	EXPECT_EQ(r.err, std::to_string(kib) + "\n");
	return kib;
}

TEST_P(exporterstream, MemoryDoesNotGrowWithHeight)
{
	static const struct {
		const char *name;
		uint32_t width, fewrows, manyrows;
	} cases[] = {
		{"gathered rows", 256, 256, 4096},
		{"direct rows", atdirect, 32, 512},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		long few = peakkib(GetParam(), kvimage(c.width, c.fewrows,
		    patternpixel));
		long many = peakkib(GetParam(), kvimage(c.width, c.manyrows,
		    patternpixel));
		/* A row kept per row read would add megabytes. */
		EXPECT_LT(many - few, 512) << few << " KiB, then " << many
		    << " KiB";
	}
}

INSTANTIATE_TEST_SUITE_P(stream, exporterstream, testing::ValuesIn(exporters),
    [](const testing::TestParamInfo<invocation> &info) {
	return info.param.args[0];
});

/* A 16-bit RGBA PNG of one row, width pixels wide. */
static std::string
pngrow(uint32_t width)
{
	pngpicture p{};

	p.width = width;
	p.height = 1;
	p.colourtype = PNG_COLOR_TYPE_RGB_ALPHA;
	p.depth = 16;
	for (uint32_t i = 0; i < width * 4; i++)
		p.samples.push_back((uint16_t)(i * 0x9e37));
	return writepng(p);
}

TEST(stream, WriteFailuresKeepTheirMessages)
{
	/*
	 * Output that fits in the block fails when closestream writes it,
	 * more output or a row that goes straight through fails in xfwrite.
	 * %s stands for the system's error text.
	 */
	static const uint32_t ppmdirect = KVDIRECTSIZE / 3;
	static const uint32_t ppmrows = KVBLOCKSIZE / (100 * 3) + 1;
	const struct {
		const char *name;
		invocation program;
		std::string input;
		std::string err;
	} cases[] = {
		{"a text header only", {KV2PAM, {"kv2pam"}, OUTPIPE},
		    kvheader(5, 0), "kv2pam: ferror '<stdout>': %s\n"},
		{"rows within a block", {KV2PAM, {"kv2pam"}, OUTPIPE},
		    kvimage(3, 2, patternpixel),
		    "kv2pam: ferror '<stdout>': %s\n"},
		{"rows beyond a block", {KV2PAM, {"kv2pam"}, OUTPIPE},
		    kvimage(narrowrow, manyrows, patternpixel),
		    "kv2pam: fwrite: %s\n"},
		{"a direct row", {KV2PAM, {"kv2pam"}, OUTPIPE},
		    kvimage(atdirect, 1, patternpixel), "kv2pam: fwrite: %s\n"},
		{"cut, rows within a block", {KV2PAM, {"kv2pam"}, OUTPIPE},
		    kvimage(3, 2, patternpixel).substr(0, 50),
		    "kv2pam: fread: Unexpected end of file\n"},
		{"rows within a block", {KV2PPM, {"kv2ppm"}, OUTPIPE},
		    kvimage(100, 3, patternpixel),
		    "kv2ppm: ferror '<stdout>': %s\n"},
		{"rows beyond a block", {KV2PPM, {"kv2ppm"}, OUTPIPE},
		    kvimage(100, ppmrows, patternpixel), "kv2ppm: fwrite: %s\n"},
		{"a direct row", {KV2PPM, {"kv2ppm"}, OUTPIPE},
		    kvimage(ppmdirect, 1, patternpixel), "kv2ppm: fwrite: %s\n"},
		{"rows within a block", {PNG2KV, {"png2kv"}, OUTPIPE},
		    pngrow(100), "png2kv: ferror '<stdout>': %s\n"},
		{"a direct row after the header", {PNG2KV, {"png2kv"}, OUTPIPE},
		    pngrow(atdirect), "png2kv: fwrite: %s\n"},
		{"a direct row after the header", {JPG2KV, {"jpg2kv"}, OUTPIPE},
		    jpegimage({atdirect, 2, JCS_YCbCr, 75, 2, 2, false}),
		    "jpg2kv: fwrite: %s\n"},
	};
	static const struct {
		outmode mode;
		const char *text;
	} outputs[] = {
		{OUTFULL, "No space left on device"},
		{OUTCLOSED, "Bad file descriptor"},
	};

	for (const auto &c : cases) {
		for (const auto &o : outputs) {
			SCOPED_TRACE(c.program.args[0] + ", " + c.name + ", " +
			    o.text);
			std::string err = c.err;
			size_t at = err.find("%s");
			if (at != std::string::npos)
				err.replace(at, 2, o.text);
			runresult r = run(c.program.path, c.program.args,
			    c.input, o.mode);
			EXPECT_EQ(r.signal, 0);
			EXPECT_EQ(r.status, 1);
			EXPECT_EQ(r.err, err);
		}
	}
}

static volatile sig_atomic_t ticks;

static void
tick(int)
{
	ticks = ticks + 1;
}

/*
 * Copies a kelvorin image from standard input to standard output through
 * the stream layer, as the importers write and the exporters read, while
 * a timer interrupts its reads and writes; exits 0 when every call came
 * back whole and the timer did fire.
 */
[[noreturn]] static void
copyunderfire(void)
{
	struct sigaction action {};
	struct itimerval timer = {{0, 100}, {0, 100}};
	uint32_t width, height;
	unsigned char *row;
	int status;

	action.sa_handler = tick;	/* no SA_RESTART: calls fail with EINTR */
	sigaction(SIGALRM, &action, nullptr);
	setitimer(ITIMER_REAL, &timer, nullptr);

	programname = "copy";
	readheader(&width, &height);
	row = (unsigned char *)xreallocarray(nullptr, width, 8);
	writeheader(width, height);
	for (uint32_t y = 0; y < height; y++) {
		xfread(row, 2, (size_t)width * 4, stdin);
		xfwrite(row, 2, (size_t)width * 4, stdout);
	}
	status = closestream(stdout, "<stdout>");

	timer = {};
	setitimer(ITIMER_REAL, &timer, nullptr);
	_exit(status == 0 && ticks > 0 ? 0 : 3);
}

TEST(stream, KeepsEveryByteThroughInterruptions)
{
	static const struct {
		const char *name;
		uint32_t width, height;
	} cases[] = {
		{"gathered rows", narrowrow, manyrows},
		{"direct rows", atdirect, 12},
	};

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string image = kvimage(c.width, c.height,
		    patternpixel);
		const std::string input = image + "trailing";
		std::string out, left;
		int in[2], outpipe[2], status;
		pid_t writer, copier;
		char buffer[4096];
		ssize_t n;

		/* A slow writer and a slow reader keep the copier waiting. */
		ASSERT_EQ(pipe(in), 0);
		ASSERT_EQ(pipe(outpipe), 0);
		fflush(stdout);
		fflush(stderr);
		if ((writer = fork()) == 0) {
			close(in[0]);
			close(outpipe[0]);
			close(outpipe[1]);
			for (size_t done = 0; done < input.size(); done += n) {
				usleep(20);
				n = write(in[1], input.data() + done,
				    std::min(input.size() - done, (size_t)5000));
				if (n <= 0)
					_exit(1);
			}
			_exit(0);
		}
		ASSERT_GT(writer, 0);
		close(in[1]);
		if ((copier = fork()) == 0) {
			dup2(in[0], 0);
			dup2(outpipe[1], 1);
			close(in[0]);
			close(outpipe[0]);
			close(outpipe[1]);
			copyunderfire();
		}
		ASSERT_GT(copier, 0);
		close(outpipe[1]);

		while ((n = read(outpipe[0], buffer, sizeof buffer)) > 0) {
			out.append(buffer, n);
			usleep(20);
		}
		close(outpipe[0]);
		ASSERT_EQ(waitpid(copier, &status, 0), copier);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
		    << "status " << status;
		while ((n = read(in[0], buffer, sizeof buffer)) > 0)
			left.append(buffer, n);
		close(in[0]);
		ASSERT_EQ(waitpid(writer, &status, 0), writer);
		EXPECT_EQ(status, 0);
		EXPECT_TRUE(out == image) << "the copy differs";
		EXPECT_EQ(left, "trailing");
	}
}

TEST(stream, ReportsAFailedRead)
{
	for (const invocation &program : exporters) {
		SCOPED_TRACE(program.args[0]);
		/* A directory opens for reading, but every read fails. */
		const std::string command = std::string(program.path) +
		    " < / 2>&1";
		std::string out;
		char buffer[256];
		size_t n;
		FILE *p;

		ASSERT_NE(p = popen(command.c_str(), "r"), nullptr);
		while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
			out.append(buffer, n);
		EXPECT_EQ(pclose(p), 1 << 8);
		EXPECT_EQ(out, std::string(program.path) +
		    ": fread: Is a directory\n");
	}
}
