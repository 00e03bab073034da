#include "tests/pngutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

/*
 * A fixture that libpng refuses to write or read back is a broken harness,
 * and there is no way back into the test from here without a jump buffer.
 */
[[noreturn]] static void
harnessfail(png_structp, png_const_charp message)
{
	fprintf(stderr, "pngutil: libpng: %s\n", message);
	abort();
}

int
pngchannels(int colourtype)
{
	switch (colourtype) {
	case PNG_COLOR_TYPE_GRAY:
	case PNG_COLOR_TYPE_PALETTE:
		return 1;
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		return 2;
	case PNG_COLOR_TYPE_RGB:
		return 3;
	default:
		return 4;
	}
}

static void
appendwrite(png_structp png, png_bytep data, size_t length)
{
	((std::string *)png_get_io_ptr(png))->append((const char *)data,
	    length);
}

static void
noflush(png_structp)
{
}

/* One row packed at the picture's depth, most significant bits first. */
static std::vector<uint8_t>
packrow(const pngpicture &p, uint32_t y)
{
	size_t count = (size_t)p.width * pngchannels(p.colourtype);
	const uint16_t *s = p.samples.data() + y * count;
	std::vector<uint8_t> row((count * p.depth + 7) / 8);

	for (size_t i = 0; i < count; i++) {
		if (p.depth == 16) {
			row[2 * i] = s[i] >> 8;
			row[2 * i + 1] = s[i] & 0xff;
		} else if (p.depth == 8)
			row[i] = (uint8_t)s[i];
		else {
			size_t bit = i * p.depth;
			row[bit / 8] |= s[i] << (8 - p.depth - bit % 8);
		}
	}
	return row;
}

std::string
writepng(const pngpicture &p)
{
	std::string out;
	png_structp png;
	png_infop info;

	png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
	    harnessfail, nullptr);
	info = png_create_info_struct(png);
	if (png == nullptr || info == nullptr)
		harnessfail(png, "cannot create the write object");
	png_set_write_fn(png, &out, appendwrite, noflush);
	png_set_IHDR(png, info, p.width, p.height, p.depth, p.colourtype,
	    p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
	    PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);

	std::vector<png_color> palette;
	for (const std::array<uint8_t, 3> &e : p.palette)
		palette.push_back({e[0], e[1], e[2]});
	if (!palette.empty())
		png_set_PLTE(png, info, palette.data(), (int)palette.size());
	if (!p.palettealpha.empty())
		png_set_tRNS(png, info, p.palettealpha.data(),
		    (int)p.palettealpha.size(), nullptr);
	if (p.transparent) {
		png_color_16 colour{};
		colour.gray = p.transparentcolour[0];
		colour.red = p.transparentcolour[0];
		colour.green = p.transparentcolour[1];
		colour.blue = p.transparentcolour[2];
		png_set_tRNS(png, info, nullptr, 0, &colour);
	}

	std::vector<std::vector<uint8_t>> rows;
	std::vector<png_bytep> pointers;
	for (uint32_t y = 0; y < p.height; y++)
		rows.push_back(packrow(p, y));
	for (std::vector<uint8_t> &row : rows)
		pointers.push_back(row.data());

	png_write_info(png, info);
	/* png_write_image takes care of the interlace passes. */
	png_write_image(png, pointers.data());
	png_write_end(png, info);
	png_destroy_write_struct(&png, &info);
	return out;
}

std::string
pngsignature(void)
{
	return std::string("\x89PNG\r\n\x1a\n", 8);
}

static void
append32(std::string &s, uint32_t value)
{
	for (int shift = 24; shift >= 0; shift -= 8)
		s += (char)(value >> shift & 0xff);
}

static uint32_t
chunkcrc(const std::string &type, const std::string &data)
{
	uLong crc = crc32(0, Z_NULL, 0);

	crc = crc32(crc, (const Bytef *)type.data(), type.size());
	return crc32(crc, (const Bytef *)data.data(), data.size());
}

std::string
makechunk(const std::string &type, const std::string &data)
{
	std::string s;

	append32(s, data.size());
	s += type + data;
	append32(s, chunkcrc(type, data));
	return s;
}

std::string
makeihdr(uint32_t width, uint32_t height, int depth, int colourtype,
    int interlace)
{
	std::string data;

	append32(data, width);
	append32(data, height);
	data += (char)depth;
	data += (char)colourtype;
	data += '\0';
	data += '\0';
	data += (char)interlace;
	return makechunk("IHDR", data);
}

std::string
claimingpng(uint32_t width, uint32_t height, int depth, int colourtype,
    int interlace)
{
	std::string png = pngsignature() + makeihdr(width, height, depth,
	    colourtype, interlace);
	const Bytef zeros[16] = {};
	Bytef data[64];
	uLongf length = sizeof data;

	if (colourtype == PNG_COLOR_TYPE_PALETTE)
		png += makechunk("PLTE", std::string(3 << depth, '\0'));
	if (compress(data, &length, zeros, sizeof zeros) != Z_OK) {
		fprintf(stderr, "pngutil: compress failed\n");
		abort();
	}
	png += makechunk("IDAT", std::string((const char *)data, length));
	return png + makechunk("IEND", "");
}

static uint32_t
get32(const std::string &s, size_t at)
{
	uint32_t value = 0;

	for (size_t i = 0; i < 4; i++)
		value = value << 8 | (uint8_t)s[at + i];
	return value;
}

std::vector<pngchunk>
pngchunks(const std::string &png, size_t *end)
{
	std::vector<pngchunk> chunks;
	size_t at = 8;

	while (at + 12 <= png.size()) {
		uint32_t length = get32(png, at);
		if (length > png.size() - at - 12)
			break;
		pngchunk c;
		c.type = png.substr(at + 4, 4);
		c.data = png.substr(at + 8, length);
		c.crcok = get32(png, at + 8 + length) ==
		    chunkcrc(c.type, c.data);
		chunks.push_back(c);
		at += 12 + length;
		if (c.type == "IEND")
			break;
	}
	*end = at;
	return chunks;
}

struct pngmemoryinput {
	const std::string *data;
	size_t at;
};

static void
memoryread(png_structp png, png_bytep data, size_t length)
{
	pngmemoryinput *in = (pngmemoryinput *)png_get_io_ptr(png);

	if (length > in->data->size() - in->at)
		png_error(png, "the PNG ends early");
	memcpy(data, in->data->data() + in->at, length);
	in->at += length;
}

decodedpng
readpng(const std::string &data)
{
	decodedpng d{};
	pngmemoryinput in = {&data, 0};
	png_structp png;
	png_infop info;

	png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
	    harnessfail, nullptr);
	info = png_create_info_struct(png);
	if (png == nullptr || info == nullptr)
		harnessfail(png, "cannot create the read object");
	png_set_read_fn(png, &in, memoryread);
	png_read_info(png, info);
	d.width = png_get_image_width(png, info);
	d.height = png_get_image_height(png, info);
	d.depth = png_get_bit_depth(png, info);
	d.colourtype = png_get_color_type(png, info);
	d.interlace = png_get_interlace_type(png, info);
	png_set_interlace_handling(png);
	png_read_update_info(png, info);

	size_t rowbytes = png_get_rowbytes(png, info);
	std::vector<uint8_t> image(rowbytes * d.height);
	std::vector<png_bytep> rows;
	for (uint32_t y = 0; y < d.height; y++)
		rows.push_back(image.data() + y * rowbytes);
	png_read_image(png, rows.data());
	png_read_end(png, nullptr);
	png_destroy_read_struct(&png, &info, nullptr);
	d.pixels.assign((const char *)image.data(), image.size());
	return d;
}

void
checkdiagnostic(const std::string &err, const std::string &last, bool warns)
{
	if (!warns) {
		EXPECT_EQ(err, last);
		return;
	}
	ASSERT_GT(err.size(), last.size());
	EXPECT_EQ(err.substr(err.size() - last.size()), last);
	std::string before = err.substr(0, err.size() - last.size());
	size_t at = 0;
	while (at < before.size()) {
		size_t newline = before.find('\n', at);
		ASSERT_NE(newline, std::string::npos) << before;
		EXPECT_EQ(before.compare(at, 16, "libpng warning: "), 0)
		    << before.substr(at, newline - at);
		at = newline + 1;
	}
}
