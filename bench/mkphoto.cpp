/*
 * mkphoto [width height]	writes a photo-like kelvorin image (5120 x 2880)
 * mkphoto -a			copies a kelvorin image from standard input
 *				with every alpha value scattered over it
 *
 * No photograph ships with the project, so the benchmark makes a picture
 * that the codecs treat like one: a sky graded from top to horizon with soft
 * clouds and a blurred sun, hills with grass whose texture shrinks with
 * distance, buildings with hard edges and lit windows, a tree whose outline
 * frays into the sky, vignetting, and sensor noise in every sample. The
 * samples use all 16 bits, as a raw converter's output does, not 8-bit
 * values widened. The layout scales with the size but the texture is
 * measured in pixels, so a smaller picture keeps the detail a pixel of a
 * large one. Everything comes from integer hashes of the position and fixed
 * seeds: the same size gives the same bytes on every run.
 *
 * With -a, pixel i of the image gets an alpha from a permutation of 0..65535
 * that changes from one run of 65536 pixels to the next, so that each such
 * run holds every alpha value once, in no order a kernel could exploit.
 */
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct colour {
	double	 r, g, b;
};

[[noreturn]] static void fail(const char *, ...)
    __attribute__((format(printf, 1, 2)));

static void
fail(const char *format, ...)
{
	va_list ap;

	fputs("mkphoto: ", stderr);
	va_start(ap, format);
	vfprintf(stderr, format, ap);
	va_end(ap);
	fputc('\n', stderr);
	exit(1);
}

static uint64_t
mix(uint64_t z)
{
	z += 0x9e3779b97f4a7c15;
	z = (z ^ z >> 30) * 0xbf58476d1ce4e5b9;
	z = (z ^ z >> 27) * 0x94d049bb133111eb;
	return z ^ z >> 31;
}

static double
unit(uint64_t h)
{
	return (double)(h >> 11) * 0x1p-53;
}

static double
lattice(int64_t x, int64_t y, unsigned seed)
{
	return unit(mix((uint64_t)x * 0x8cb92ba72f3d8dd7 ^
	    (uint64_t)y * 0xd6e8feb86659fd93 ^ (uint64_t)seed << 40));
}

static double
smooth(double t)
{
	return t * t * (3 - 2 * t);
}

/* Smoothly interpolated lattice noise in 0..1, features a period apart. */
static double
valuenoise(double x, double y, double period, unsigned seed)
{
	double fx = floor(x / period), fy = floor(y / period);
	double tx = smooth(x / period - fx), ty = smooth(y / period - fy);
	int64_t ix = (int64_t)fx, iy = (int64_t)fy;
	double top, bottom;

	top = lattice(ix, iy, seed) +
	    (lattice(ix + 1, iy, seed) - lattice(ix, iy, seed)) * tx;
	bottom = lattice(ix, iy + 1, seed) +
	    (lattice(ix + 1, iy + 1, seed) - lattice(ix, iy + 1, seed)) * tx;
	return top + (bottom - top) * ty;
}

/* Octaves of noise from the period down, each half as large and as strong. */
static double
fractal(double x, double y, double period, int octaves, double gain,
    unsigned seed)
{
	double sum = 0, weight = 0, amplitude = 1;
	int i;

	for (i = 0; i < octaves && period >= 1; i++) {
		sum += amplitude * valuenoise(x, y, period, seed + i);
		weight += amplitude;
		amplitude *= gain;
		period /= 2;
	}
	return sum / weight;
}

static double
clamp(double v)
{
	return v < 0 ? 0 : v > 1 ? 1 : v;
}

static double
step(double edge0, double edge1, double v)
{
	return smooth(clamp((v - edge0) / (edge1 - edge0)));
}

static struct colour
blend(struct colour a, struct colour b, double t)
{
	return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t,
	    a.b + (b.b - a.b) * t};
}

static struct colour
scale(struct colour a, double k)
{
	return {a.r * k, a.g * k, a.b * k};
}

/* About normally distributed with deviation 1: a sum of four uniforms. */
static double
gaussian(uint64_t h)
{
	double sum = 0;
	int i;

	for (i = 0; i < 4; i++)
		sum += (double)(h >> (16 * i) & 0xffff) / 65536;
	return (sum - 2) * 1.7320508;
}

static struct colour
sky(double x, double y, double width, double horizon)
{
	const struct colour zenith = {0.16, 0.32, 0.66};
	const struct colour haze = {0.72, 0.80, 0.88};
	const struct colour cloud = {0.93, 0.93, 0.95};
	struct colour c;
	double t, cover, shade, d;

	t = clamp(y / horizon);
	c = blend(zenith, haze, pow(t, 0.7));
	d = hypot(x - 0.62 * width, y - 0.28 * horizon);
	c = blend(c, {1, 0.97, 0.88}, exp(-d * d / (2 * 90.0 * 90.0)) * 0.9 +
	    exp(-d / 400) * 0.25);
	/* Clouds are flattened towards the horizon, as they look from below. */
	cover = fractal(x, y * (2.5 - t), 900, 8, 0.55, 10);
	shade = fractal(x, y, 300, 6, 0.5, 20);
	return blend(c, scale(cloud, 0.75 + 0.3 * shade),
	    step(0.52, 0.68, cover) * (1 - 0.5 * t));
}

static struct colour
ground(double x, double y, double horizon, double height)
{
	const struct colour dark = {0.09, 0.21, 0.07};
	const struct colour light = {0.46, 0.55, 0.19};
	const struct colour earth = {0.42, 0.33, 0.22};
	struct colour c;
	double depth, period, grass, blades, patch, path;

	/* Texture grows from the horizon to the bottom edge: perspective. */
	depth = clamp((y - horizon) / (height - horizon));
	period = 24 + 400 * depth;
	patch = fractal(x, y, 700, 3, 0.5, 30);
	grass = fractal(x, y * (1 + 2 * (1 - depth)), period, 7, 0.75, 40);
	blades = valuenoise(x * 3, y / 2, 2 + 4 * depth, 50);
	c = blend(dark, light, clamp(0.2 + 0.9 * grass * patch + 0.15 *
	    (blades - 0.5)));
	c = scale(c, 0.55 + 0.9 * grass);
	path = fabs(x - (0.35 * height + 0.9 * (y - horizon)) -
	    60 * (fractal(x, y, 200, 4, 0.5, 60) - 0.5));
	c = blend(c, scale(earth, 0.8 + 0.4 * grass),
	    1 - step(40 + 200 * depth, 60 + 260 * depth, path));
	/* Distance fades the hills into the haze. */
	return blend(c, {0.62, 0.70, 0.78}, 0.45 * pow(1 - depth, 6));
}

/* False outside the buildings; inside, the facade's colour in *c. */
static bool
building(double x, double y, double width, double horizon, struct colour *c)
{
	static const struct {
		double	 left, right, top;
		struct colour	 wall;
	} blocks[] = {
		{0.06, 0.17, 0.55, {0.55, 0.52, 0.48}},
		{0.15, 0.24, 0.40, {0.36, 0.38, 0.42}},
		{0.24, 0.29, 0.70, {0.66, 0.58, 0.47}},
		{0.47, 0.55, 0.62, {0.30, 0.27, 0.25}},
	};
	size_t i;

	for (i = 0; i < sizeof blocks / sizeof blocks[0]; i++) {
		double left = blocks[i].left * width, right = blocks[i].right *
		    width, top = horizon * blocks[i].top;
		double wx, wy, lit, grain;

		if (x < left || x >= right || y < top || y >= horizon * 1.04)
			continue;
		grain = fractal(x, y, 64, 5, 0.6, 70 + i);
		*c = scale(blocks[i].wall, 0.8 + 0.4 * grain);
		/* Shadow on the right-hand face. */
		if (x > right - (right - left) * 0.3)
			*c = scale(*c, 0.62);
		wx = fmod(x - left, 46);
		wy = fmod(y - top, 64);
		if (wx > 12 && wx < 34 && wy > 14 && wy < 48 &&
		    y < horizon * 0.99) {
			lit = lattice((int64_t)((x - left) / 46),
			    (int64_t)((y - top) / 64), 80 + i);
			if (lit > 0.7)
				*c = {0.95, 0.82, 0.50};
			else
				*c = scale({0.20, 0.24, 0.30},
				    0.6 + 0.8 * grain);
		}
		return true;
	}
	return false;
}

/* How much of the tree covers the point, 0 to 1, frayed at the edge. */
static double
crown(double x, double y, double width, double height)
{
	double d;

	d = hypot((x - 0.80 * width) / 1.3, y - 0.36 * height) /
	    (0.17 * height);
	return step(0.42, 0.5, fractal(x, y, 90, 6, 0.7, 90) + 0.5 * (1 - d));
}

static bool
trunk(double x, double y, double width, double height)
{
	return fabs(x - 0.80 * width) < 0.012 * width * (1 + y / height) &&
	    y > 0.36 * height && y < 0.66 * height;
}

static void
photorow(unsigned char *row, uint32_t width, uint32_t height, uint32_t y)
{
	const struct colour bark = {0.13, 0.10, 0.07};
	double horizon, vy = y + 0.5, cover, vignette, luma;
	struct colour c, leaf;
	uint32_t x;
	int channel;

	for (x = 0; x < width; x++) {
		double vx = x + 0.5;
		double samples[3];
		uint64_t h;

		horizon = height * (0.56 + 0.08 *
		    (fractal(vx, 0, 1600, 6, 0.45, 1) - 0.5));
		if (!building(vx, vy, width, horizon, &c))
			c = vy < horizon ? sky(vx, vy, width, horizon) :
			    ground(vx, vy, horizon, height);
		if (trunk(vx, vy, width, height))
			c = scale(bark, 0.7 + 0.6 * fractal(vx, vy * 0.2, 12, 4,
			    0.6, 96));
		if ((cover = crown(vx, vy, width, height)) > 0) {
			leaf = blend({0.05, 0.12, 0.04}, {0.30, 0.42, 0.12},
			    fractal(vx, vy, 16, 4, 0.6, 95));
			c = blend(c, leaf, cover);
		}
		vignette = 1 - 0.35 * (pow((vx / width - 0.5) * 1.6, 2) +
		    pow((vy / height - 0.5) * 1.6, 2));
		c = scale(c, vignette);

		/*
		 * Sensor noise: mostly in the brightness, some per channel,
		 * stronger in the shadows, as a camera's is.
		 */
		h = mix((uint64_t)y << 32 | x);
		luma = gaussian(h) * (0.006 + 0.010 * (1 - c.g));
		samples[0] = c.r + luma + 0.004 * gaussian(mix(h + 1));
		samples[1] = c.g + luma + 0.003 * gaussian(mix(h + 2));
		samples[2] = c.b + luma + 0.005 * gaussian(mix(h + 3));
		for (channel = 0; channel < 3; channel++) {
			unsigned v = (unsigned)lround(clamp(samples[channel]) *
			    65535);

			row[x * 8 + channel * 2] = v >> 8;
			row[x * 8 + channel * 2 + 1] = v & 0xff;
		}
		row[x * 8 + 6] = row[x * 8 + 7] = 0xff;
	}
}

/* A permutation of 0..65535 for each run of 65536 pixels. */
static unsigned
scatter(uint64_t i)
{
	uint32_t v = (uint32_t)(i & 0xffff) ^ (uint32_t)(mix(i >> 16) & 0xffff);

	/* Each step undoes on 16 bits: xor with a shift, an odd multiply. */
	v = (v ^ v >> 7) * 0x2c1b & 0xffff;
	v = (v ^ v >> 9) * 0x9e35 & 0xffff;
	v = (v ^ v >> 5) * 0x6a4f & 0xffff;
	return v ^ v >> 8;
}

static void
putheader(uint32_t width, uint32_t height)
{
	unsigned char header[16] = "kelvorin";
	int i;

	for (i = 0; i < 4; i++) {
		header[8 + i] = width >> (24 - 8 * i) & 0xff;
		header[12 + i] = height >> (24 - 8 * i) & 0xff;
	}
	if (fwrite(header, 1, 16, stdout) != 16)
		fail("write failed");
}

static uint32_t
getsize(const char *arg)
{
	char *end;
	unsigned long v;

	v = strtoul(arg, &end, 10);
	if (*arg < '0' || *arg > '9' || *end != '\0' || v < 1 || v > 65536)
		fail("size %s: not a number from 1 to 65536", arg);
	return (uint32_t)v;
}

static void
translucent(void)
{
	unsigned char header[16], *row;
	uint32_t width, height, x, y;
	uint64_t i = 0;
	int k;

	if (fread(header, 1, 16, stdin) != 16 ||
	    memcmp(header, "kelvorin", 8) != 0)
		fail("standard input is no kelvorin image");
	width = height = 0;
	for (k = 0; k < 4; k++) {
		width = width << 8 | header[8 + k];
		height = height << 8 | header[12 + k];
	}
	if ((row = (unsigned char *)calloc(width, 8)) == nullptr)
		fail("out of memory");
	putheader(width, height);
	for (y = 0; y < height; y++) {
		if (fread(row, 8, width, stdin) != width)
			fail("the image is cut short");
		for (x = 0; x < width; x++, i++) {
			unsigned alpha = scatter(i);

			row[x * 8 + 6] = alpha >> 8;
			row[x * 8 + 7] = alpha & 0xff;
		}
		if (fwrite(row, 8, width, stdout) != width)
			fail("write failed");
	}
	free(row);
}

int
main(int argc, char *argv[])
{
	uint32_t width = 5120, height = 2880, y;
	unsigned char *row;

	if (argc == 2 && strcmp(argv[1], "-a") == 0) {
		translucent();
		return fflush(stdout) != 0;
	}
	if (argc == 3) {
		width = getsize(argv[1]);
		height = getsize(argv[2]);
	} else if (argc != 1)
		fail("usage: mkphoto [width height] | mkphoto -a");

	if ((row = (unsigned char *)calloc(width, 8)) == nullptr)
		fail("out of memory");
	putheader(width, height);
	for (y = 0; y < height; y++) {
		photorow(row, width, height, y);
		if (fwrite(row, 8, width, stdout) != width)
			fail("write failed");
	}
	return fflush(stdout) != 0;
}
