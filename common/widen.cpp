#include "common/common.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

/*
 * Optimising compilers vectorise this loop for plain x86-64 as a hand-made
 * SSE2 variant would do it, so there is none.
 */
static void
widenplain(const unsigned char *in, size_t count, unsigned char *out)
{
	size_t i;

	for (i = 0; i < count; i++)
		out[i * 2] = out[i * 2 + 1] = in[i];
}

static int
always(void)
{
	return 1;
}

#if defined(__x86_64__)
#define AVX2	__attribute__((target("avx2")))

static int
hasavx2(void)
{
	return __builtin_cpu_supports("avx2");
}

static AVX2 void
widenavx2(const unsigned char *in, size_t count, unsigned char *out)
{
	__m256i v;
	size_t i;

	for (i = 0; count - i >= 32; i += 32) {
		/*
		 * Interleaving a vector with itself puts every byte twice, but
		 * it works within 16-byte lanes: with the middle quarters
		 * swapped, the low halves of the lanes are the first 16 bytes
		 * and the high halves the last.
		 */
		v = _mm256_permute4x64_epi64(_mm256_loadu_si256(
		    (const __m256i *)(in + i)), _MM_SHUFFLE(3, 1, 2, 0));
		_mm256_storeu_si256((__m256i *)(out + i * 2),
		    _mm256_unpacklo_epi8(v, v));
		_mm256_storeu_si256((__m256i *)(out + i * 2 + 32),
		    _mm256_unpackhi_epi8(v, v));
	}
	widenplain(in + i, count - i, out + i * 2);
}
#endif

const struct widenvariant widenvariants[] = {
	{"plain", widenplain, always},
#if defined(__x86_64__)
	{"avx2", widenavx2, hasavx2},
#endif
};
const size_t nwidenvariants = sizeof widenvariants / sizeof widenvariants[0];

void
widen(const unsigned char *in, size_t count, unsigned char *out)
{
	static widenfn *chosen;
	size_t i;

	if (chosen == nullptr)
		for (i = 0; i < nwidenvariants; i++)
			if (widenvariants[i].supported())
				chosen = widenvariants[i].run;
	chosen(in, count, out);
}
