#include "pnm/compositerow.h"

#include <stddef.h>
#include <string.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

/* 65535 x 257: the mean in 16-bit units, taken to 8 bits in one step. */
#define DIVISOR	16842495

static inline uint32_t
sample(const unsigned char *p)
{
	return (uint32_t)p[0] << 8 | p[1];
}

static void
compositeplain(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	size_t i;
	int c;

	/* size_t: from 2^30 pixels on, the positions pass 32 bits. */
	for (i = 0; i < width; i++) {
		const unsigned char *p = input + i * 8;
		uint32_t alpha = sample(p + 6);

		/* At most 65535 x 65535: 32 bits hold the dividend. */
		for (c = 0; c < 3; c++)
			output[i * 3 + c] = (background[c] * (65535 - alpha) +
			    sample(p + c * 2) * alpha) / DIVISOR;
	}
}

/*
 * The same formula for CPUs without a variant of their own. Groups of three
 * output bytes keep compilers from vectorising the arithmetic, so each block
 * of pixels is composited into one plane per channel and interleaved after.
 */
/*
 * The formula again, for CPUs without a variant of their own: groups of
 * three output bytes keep compilers from vectorising the arithmetic, so each
 * block of pixels is composited into one plane per channel and interleaved
 * afterwards, which they do vectorise on any target.
 */
static void
compositeblocked(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	uint32_t red = background[0], green = background[1],
	    blue = background[2];
	unsigned char plane[3][64];
	size_t start, count, i;

	for (start = 0; start < width; start += count) {
		const unsigned char *in = input + start * 8;
		unsigned char *out = output + start * 3;

		count = width - start < 64 ? width - start : 64;
		for (i = 0; i < count; i++) {
			const unsigned char *p = in + i * 8;
			uint32_t alpha = sample(p + 6), rest = 65535 - alpha;

			plane[0][i] = (red * rest + sample(p) * alpha) / DIVISOR;
			plane[1][i] = (green * rest + sample(p + 2) * alpha) /
			    DIVISOR;
			plane[2][i] = (blue * rest + sample(p + 4) * alpha) /
			    DIVISOR;
		}
		for (i = 0; i < count; i++) {
			out[i * 3] = plane[0][i];
			out[i * 3 + 1] = plane[1][i];
			out[i * 3 + 2] = plane[2][i];
		}
	}
}

static int
always(void)
{
	return 1;
}

#if defined(__x86_64__)
/*
 * The vector variants hold one sample in each 16-bit lane, a pixel in four
 * lanes, and work through blocks of 8 pixels. Their arithmetic rests on two
 * identities, true for every x up to 65535 x 65535 and y up to 65535:
 *
 *	x / 65535 = (x + 1 + (x >> 16)) >> 16
 *	y / 257 = (y x 0xff01) >> 24
 *
 * so that the quotient by 65535 x 257 takes no division; the 32-bit x and
 * its 16-bit halves are put together from 16 x 16-bit products.
 */
#define SSE41	__attribute__((target("sse4.1")))
#define AVX2	__attribute__((target("avx2")))

/* Byte offsets within a 16-byte lane, repeated in each lane. */
#define SWAP	1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14
#define SPREAD	7, 6, 7, 6, 7, 6, 7, 6, 15, 14, 15, 14, 15, 14, 15, 14
#define DROP	0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14
#define NOTHING	-1, -1, -1, -1

static int
hassse41(void)
{
	return __builtin_cpu_supports("sse4.1");
}

static int
hasavx2(void)
{
	return __builtin_cpu_supports("avx2");
}

/*
 * Two pixels as read, composited over the background (red, green, blue and
 * 0 for each pixel): the quotient in each lane, 0 to 255, alpha's lane
 * meaningless.
 */
static inline SSE41 __m128i
blendsse41(__m128i pixels, __m128i background)
{
	const __m128i swap = _mm_setr_epi8(SWAP);
	const __m128i spread = _mm_setr_epi8(SPREAD);
	const __m128i one = _mm_set1_epi16(1);
	const __m128i by257 = _mm_set1_epi16((short)0xff01);
	__m128i s, a, rest, low, lows, high, y;

	s = _mm_shuffle_epi8(pixels, swap);
	a = _mm_shuffle_epi8(pixels, spread);
	rest = _mm_xor_si128(a, _mm_set1_epi16(-1));
	lows = _mm_mullo_epi16(s, a);
	low = _mm_add_epi16(_mm_mullo_epi16(background, rest), lows);
	high = _mm_add_epi16(_mm_mulhi_epu16(background, rest),
	    _mm_mulhi_epu16(s, a));
	/*
	 * The low halves carried exactly when their sum came out below lows:
	 * then the saturating difference is not 0, and the minimum makes it 1.
	 */
	high = _mm_add_epi16(high, _mm_min_epu16(_mm_subs_epu16(lows, low),
	    one));
	/*
	 * (x + 1 + (x >> 16)) >> 16 is high plus the carry out of
	 * low + high + 1, and that carry is the top bit of their average,
	 * which the instruction rounds up in 17 bits.
	 */
	y = _mm_add_epi16(high, _mm_srli_epi16(_mm_avg_epu16(low, high), 15));
	return _mm_srli_epi16(_mm_mulhi_epu16(y, by257), 8);
}

/* Opaque pixels: b x 0 + s x 65535 over 65535 x 257 is s / 257. */
static inline SSE41 __m128i
opaquesse41(__m128i pixels)
{
	const __m128i swap = _mm_setr_epi8(SWAP);
	const __m128i by257 = _mm_set1_epi16((short)0xff01);

	return _mm_srli_epi16(_mm_mulhi_epu16(_mm_shuffle_epi8(pixels, swap),
	    by257), 8);
}

static inline SSE41 void
blocksse41(const unsigned char *in, __m128i background, unsigned char *out)
{
	const __m128i alphas = _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1);
	const __m128i drop = _mm_setr_epi8(DROP, NOTHING);
	__m128i v0, v1, v2, v3, front, back;

	v0 = _mm_loadu_si128((const __m128i *)in);
	v1 = _mm_loadu_si128((const __m128i *)(in + 16));
	v2 = _mm_loadu_si128((const __m128i *)(in + 32));
	v3 = _mm_loadu_si128((const __m128i *)(in + 48));
	if (_mm_testc_si128(_mm_and_si128(_mm_and_si128(v0, v1),
	    _mm_and_si128(v2, v3)), alphas)) {
		front = _mm_packus_epi16(opaquesse41(v0), opaquesse41(v1));
		back = _mm_packus_epi16(opaquesse41(v2), opaquesse41(v3));
	} else {
		front = _mm_packus_epi16(blendsse41(v0, background),
		    blendsse41(v1, background));
		back = _mm_packus_epi16(blendsse41(v2, background),
		    blendsse41(v3, background));
	}
	front = _mm_shuffle_epi8(front, drop);
	back = _mm_shuffle_epi8(back, drop);
	_mm_storeu_si128((__m128i *)out, _mm_or_si128(front,
	    _mm_slli_si128(back, 12)));
	_mm_storel_epi64((__m128i *)(out + 16), _mm_srli_si128(back, 4));
}

static SSE41 void
compositesse41(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	const __m128i b = _mm_setr_epi16(background[0], background[1],
	    background[2], 0, background[0], background[1], background[2], 0);
	unsigned char in[64], out[24];
	size_t i, rest;

	for (i = 0; width - i >= 8; i += 8)
		blocksse41(input + i * 8, b, output + i * 3);
	/* The last few go through a block of their own, not past the row. */
	if ((rest = width - i) != 0) {
		memset(in, 0, sizeof in);
		memcpy(in, input + i * 8, rest * 8);
		blocksse41(in, b, out);
		memcpy(output + i * 3, out, rest * 3);
	}
}

/* blendsse41 for four pixels. */
static inline AVX2 __m256i
blendavx2(__m256i pixels, __m256i background)
{
	const __m256i swap = _mm256_setr_epi8(SWAP, SWAP);
	const __m256i spread = _mm256_setr_epi8(SPREAD, SPREAD);
	const __m256i one = _mm256_set1_epi16(1);
	const __m256i by257 = _mm256_set1_epi16((short)0xff01);
	__m256i s, a, rest, low, lows, high, y;

	s = _mm256_shuffle_epi8(pixels, swap);
	a = _mm256_shuffle_epi8(pixels, spread);
	rest = _mm256_xor_si256(a, _mm256_set1_epi16(-1));
	lows = _mm256_mullo_epi16(s, a);
	low = _mm256_add_epi16(_mm256_mullo_epi16(background, rest), lows);
	high = _mm256_add_epi16(_mm256_mulhi_epu16(background, rest),
	    _mm256_mulhi_epu16(s, a));
	high = _mm256_add_epi16(high,
	    _mm256_min_epu16(_mm256_subs_epu16(lows, low), one));
	y = _mm256_add_epi16(high,
	    _mm256_srli_epi16(_mm256_avg_epu16(low, high), 15));
	return _mm256_srli_epi16(_mm256_mulhi_epu16(y, by257), 8);
}

static inline AVX2 __m256i
opaqueavx2(__m256i pixels)
{
	const __m256i swap = _mm256_setr_epi8(SWAP, SWAP);
	const __m256i by257 = _mm256_set1_epi16((short)0xff01);

	return _mm256_srli_epi16(_mm256_mulhi_epu16(
	    _mm256_shuffle_epi8(pixels, swap), by257), 8);
}

static inline AVX2 void
blockavx2(const unsigned char *in, __m256i background, unsigned char *out)
{
	const __m256i alphas = _mm256_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1,
	    0, 0, 0, -1, 0, 0, 0, -1);
	const __m256i drop = _mm256_setr_epi8(DROP, NOTHING, DROP, NOTHING);
	const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
	__m256i v0, v1, packed;

	v0 = _mm256_loadu_si256((const __m256i *)in);
	v1 = _mm256_loadu_si256((const __m256i *)(in + 32));
	if (_mm256_testc_si256(_mm256_and_si256(v0, v1), alphas))
		packed = _mm256_packus_epi16(opaqueavx2(v0), opaqueavx2(v1));
	else
		packed = _mm256_packus_epi16(blendavx2(v0, background),
		    blendavx2(v1, background));
	/* Packing works within 16-byte lanes: pixels 0 1 4 5 2 3 6 7. */
	packed = _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
	packed = _mm256_shuffle_epi8(packed, drop);
	packed = _mm256_permutevar8x32_epi32(packed, gather);
	_mm_storeu_si128((__m128i *)out, _mm256_castsi256_si128(packed));
	_mm_storel_epi64((__m128i *)(out + 16),
	    _mm256_extracti128_si256(packed, 1));
}

static AVX2 void
compositeavx2(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	const __m256i b = _mm256_setr_epi16(background[0], background[1],
	    background[2], 0, background[0], background[1], background[2], 0,
	    background[0], background[1], background[2], 0, background[0],
	    background[1], background[2], 0);
	unsigned char in[64], out[24];
	size_t i, rest;

	for (i = 0; width - i >= 8; i += 8)
		blockavx2(input + i * 8, b, output + i * 3);
	if ((rest = width - i) != 0) {
		memset(in, 0, sizeof in);
		memcpy(in, input + i * 8, rest * 8);
		blockavx2(in, b, out);
		memcpy(output + i * 3, out, rest * 3);
	}
}
#endif

const struct compositevariant compositevariants[] = {
	{"plain", compositeplain, always},
	{"blocked", compositeblocked, always},
#if defined(__x86_64__)
	{"sse4.1", compositesse41, hassse41},
	{"avx2", compositeavx2, hasavx2},
#endif
};
const size_t ncompositevariants =
    sizeof compositevariants / sizeof compositevariants[0];

void
compositerow(const unsigned char *input, uint32_t width,
    const uint16_t background[3], unsigned char *output)
{
	static compositerowfn *chosen;
	size_t i;

	if (chosen == nullptr)
		for (i = 0; i < ncompositevariants; i++)
			if (compositevariants[i].supported())
				chosen = compositevariants[i].run;
	chosen(input, width, background, output);
}
