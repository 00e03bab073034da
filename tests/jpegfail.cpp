#include "jpeg/jpegfail.h"

#include <stdio.h>
#include <unistd.h>
#include <jerror.h>

#include <string>

#include <gtest/gtest.h>

#include "common/common.h"
#include "tests/jpegutil.h"

static const std::string notjpeg = "kelvorin, not a JPEG datastream";

/* Has the library refuse, through jpegfail, a stream that is no JPEG. */
static void
refusedecompress(void)
{
	struct jpeg_decompress_struct object;
	struct jpeg_error_mgr manager;
	FILE *in = tmpfile();

	fputs(notjpeg.c_str(), in);
	rewind(in);
	object.err = jpeg_std_error(&manager);
	manager.error_exit = jpegfail;
	jpeg_create_decompress(&object);
	jpeg_stdio_src(&object, in);
	jpeg_read_header(&object, TRUE);
}

/* Has the library refuse, through jpegfail, to compress an empty image. */
static void
refusecompress(void)
{
	struct jpeg_compress_struct object;
	struct jpeg_error_mgr manager;

	object.err = jpeg_std_error(&manager);
	manager.error_exit = jpegfail;
	jpeg_create_compress(&object);
	jpeg_stdio_dest(&object, stdout);
	object.image_width = 0;
	object.image_height = 0;
	object.input_components = 3;
	object.in_color_space = JCS_RGB;
	jpeg_set_defaults(&object);
	jpeg_start_compress(&object, TRUE);
}

struct jpegfailcase {
	const char *name;
	const char *programname;
	void (*refuse)(void);
	std::string message;	/* the library's part of the line */
};

TEST(jpegfailDeathTest, PrintsOneLineAndExitsOne)
{
	const std::string decompressed = jpegdecode(notjpeg).error;
	const std::string compressed = jpegmessage(JERR_EMPTY_IMAGE);
	const jpegfailcase cases[] = {
		{"decompressing", "jpg2kv", refusedecompress, decompressed},
		{"called by path", "/usr/local/bin/jpg2kv", refusedecompress,
		    decompressed},
		{"compressing", "kv2jpg", refusecompress, compressed},
		{"no program name", nullptr, refusedecompress, decompressed},
	};

	ASSERT_NE(decompressed, "");
	ASSERT_NE(compressed, "");
	for (const jpegfailcase &c : cases) {
		SCOPED_TRACE(c.name);
		programname = c.programname;
		std::string name = c.programname != nullptr ? c.programname :
		    "tests";
		EXPECT_EXIT(c.refuse(), testing::ExitedWithCode(1),
		    testing::Eq(name + ": libjpeg: " + c.message + "\n"));
	}
	programname = nullptr;
}

TEST(jpegfailDeathTest, FlushesWhatWasWritten)
{
	/* exit, not _exit: buffered output reaches the stream. */
	FILE *f = tmpfile();
	ASSERT_NE(f, nullptr);
	int fd = dup(fileno(f));
	programname = "jpg2kv";
	EXPECT_EXIT({ fputs("written", f); refusedecompress(); },
	    testing::ExitedWithCode(1), "^jpg2kv: libjpeg: ");
	programname = nullptr;
	char buffer[16] = "";
	EXPECT_EQ(pread(fd, buffer, sizeof buffer - 1, 0), 7);
	EXPECT_STREQ(buffer, "written");
	close(fd);
	fclose(f);
}
