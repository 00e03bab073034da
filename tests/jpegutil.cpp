#include "tests/jpegutil.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "tests/testutil.h"

static int
components(J_COLOR_SPACE space)
{
	switch (space) {
	case JCS_GRAYSCALE:
		return 1;
	case JCS_CMYK:
	case JCS_YCCK:
		return 4;
	default:
		return 3;
	}
}

static J_COLOR_SPACE
inputspace(J_COLOR_SPACE space)
{
	switch (space) {
	case JCS_GRAYSCALE:
		return JCS_GRAYSCALE;
	case JCS_CMYK:
	case JCS_YCCK:
		return JCS_CMYK;
	default:
		return JCS_RGB;
	}
}

uint8_t
patternsample(uint32_t x, uint32_t y, int c)
{
	return (uint8_t)(x * 37 + y * 91 + c * 85 + (x * y) % 7 * 13);
}

std::string
jpegimage(const jpegsettings &settings, const samplesource &source)
{
	struct jpeg_compress_struct object;
	struct jpeg_error_mgr manager;
	char *buffer = nullptr;
	size_t size = 0;
	FILE *out;
	int n = components(settings.space);

	out = open_memstream(&buffer, &size);
	check(out != nullptr, "open_memstream");
	object.err = jpeg_std_error(&manager);
	jpeg_create_compress(&object);
	jpeg_stdio_dest(&object, out);
	object.image_width = settings.width;
	object.image_height = settings.height;
	object.input_components = n;
	object.in_color_space = inputspace(settings.space);
	jpeg_set_defaults(&object);
	jpeg_set_colorspace(&object, settings.space);
	jpeg_set_quality(&object, settings.quality, TRUE);
	object.comp_info[0].h_samp_factor = settings.hsampling;
	object.comp_info[0].v_samp_factor = settings.vsampling;
	for (int c = 1; c < n; c++)
		object.comp_info[c].h_samp_factor =
		    object.comp_info[c].v_samp_factor = 1;
	if (settings.progressive)
		jpeg_simple_progression(&object);
	jpeg_start_compress(&object, TRUE);

	std::vector<JSAMPLE> row((size_t)settings.width * n);
	JSAMPROW rows[1] = {row.data()};
	for (uint32_t y = 0; y < settings.height; y++) {
		for (uint32_t x = 0; x < settings.width; x++)
			for (int c = 0; c < n; c++)
				row[(size_t)x * n + c] = source(x, y, c);
		jpeg_write_scanlines(&object, rows, 1);
	}
	jpeg_finish_compress(&object);
	jpeg_destroy_compress(&object);
	check(fclose(out) == 0, "fclose");

	std::string data(buffer, size);
	free(buffer);
	return data;
}

/* The decoder's state, outside the frame that longjmp returns to. */
struct decoding {
	struct jpeg_error_mgr manager;
	jmp_buf refused;
	jpegdecoded *result;
};

/* Collects what the library's output_message would write to stderr. */
static void
collectmessage(j_common_ptr object)
{
	decoding *d = (decoding *)object->client_data;
	char text[JMSG_LENGTH_MAX];

	(*object->err->format_message)(object, text);
	d->result->warnings += text;
	d->result->warnings += '\n';
}

/*
 * The test has to survive the library's refusal to report it; returning to
 * the library is not allowed, so the way back is the library's own
 * documented one.
 */
static void
refuse(j_common_ptr object)
{
	decoding *d = (decoding *)object->client_data;
	char text[JMSG_LENGTH_MAX];

	(*object->err->format_message)(object, text);
	d->result->error = text;
	longjmp(d->refused, 1);
}

static void
decodestream(decoding *d, j_decompress_ptr object)
{
	std::string *rgb = &d->result->rgb;

	jpeg_read_header(object, TRUE);
	d->result->width = object->image_width;
	d->result->height = object->image_height;
	object->out_color_space = JCS_RGB;
	jpeg_start_decompress(object);

	size_t stride = (size_t)object->output_width * 3;
	while (object->output_scanline < object->output_height) {
		size_t at = rgb->size();
		rgb->resize(at + stride);
		JSAMPROW rows[1] = {(JSAMPROW)&(*rgb)[at]};
		check(jpeg_read_scanlines(object, rows, 1) == 1,
		    "jpeg_read_scanlines");
	}
	jpeg_finish_decompress(object);
}

/* Nothing local here changes after setjmp, so nothing is lost by longjmp. */
static void
trydecode(decoding *d, j_decompress_ptr object)
{
	if (setjmp(d->refused) == 0)
		decodestream(d, object);
}

jpegdecoded
jpegdecode(const std::string &data)
{
	jpegdecoded result{};
	struct jpeg_decompress_struct object;
	decoding d;
	FILE *in;

	/* The same source manager as the programs', so the same warnings. */
	in = tmpfile();
	check(in != nullptr, "tmpfile");
	check(fwrite(data.data(), 1, data.size(), in) == data.size(), "fwrite");
	rewind(in);

	d.result = &result;
	object.err = jpeg_std_error(&d.manager);
	d.manager.error_exit = refuse;
	d.manager.output_message = collectmessage;
	jpeg_create_decompress(&object);
	object.client_data = &d;
	jpeg_stdio_src(&object, in);
	trydecode(&d, &object);
	jpeg_destroy_decompress(&object);
	fclose(in);
	return result;
}

size_t
jpegsegment(const std::string &data, unsigned char code)
{
	size_t at = 2;

	while (at + 4 <= data.size() && (unsigned char)data[at] == 0xff) {
		unsigned char marker = data[at + 1];

		if (marker == code)
			return at;
		if (marker == 0xda)
			break;
		at += 2 + ((unsigned char)data[at + 2] << 8 |
		    (unsigned char)data[at + 3]);
	}
	return std::string::npos;
}

std::string
jpegmessage(int code, int parameter)
{
	struct jpeg_decompress_struct object;
	struct jpeg_error_mgr manager;
	char text[JMSG_LENGTH_MAX];

	object.err = jpeg_std_error(&manager);
	jpeg_create_decompress(&object);
	manager.msg_code = code;
	manager.msg_parm.i[0] = parameter;
	(*manager.format_message)((j_common_ptr)&object, text);
	jpeg_destroy_decompress(&object);
	return text;
}
