#include <stdint.h>

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "common/common.h"
#include "pnm/compositerow.h"

const char ownname[] = "kernelbench";

/* One row of a 5120 x 2880 image. */
#define WIDTH	5120

/* Counts pixels so that the report gives the time of one. */
static void
perpixel(benchmark::State &state)
{
	state.counters["time/pixel"] = benchmark::Counter(
	    (double)state.iterations() * WIDTH,
	    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/* A kelvorin row of random colours; random alpha unless opaque. */
static std::vector<unsigned char>
kelvorinrow(bool opaque)
{
	std::mt19937 random(20261210);
	std::uniform_int_distribution<unsigned> byte(0, 255);
	std::vector<unsigned char> row(WIDTH * 8);

	for (size_t i = 0; i < row.size(); i++)
		row[i] = opaque && i % 8 >= 6 ? 0xff :
		    (unsigned char)byte(random);
	return row;
}

static void
composite(benchmark::State &state, compositerowfn *run, bool opaque)
{
	const uint16_t background[3] = {65535, 65535, 65535};
	std::vector<unsigned char> row = kelvorinrow(opaque);
	std::vector<unsigned char> out(WIDTH * 3);

	for (auto _ : state) {
		run(row.data(), WIDTH, background, out.data());
		benchmark::ClobberMemory();
	}
	perpixel(state);
}

/* An 8-bit RGBA row, as jpg2kv and png2kv widen them. */
static void
widenrow(benchmark::State &state, widenfn *run)
{
	std::vector<unsigned char> row = kelvorinrow(false);
	std::vector<unsigned char> out(WIDTH * 8);

	row.resize(WIDTH * 4);
	for (auto _ : state) {
		run(row.data(), WIDTH * 4, out.data());
		benchmark::ClobberMemory();
	}
	perpixel(state);
}

int
main(int argc, char *argv[])
{
	size_t i;

	for (i = 0; i < ncompositevariants; i++) {
		const compositevariant &v = compositevariants[i];
		std::string name = std::string("compositerow/") + v.name;

		if (!v.supported())
			continue;
		benchmark::RegisterBenchmark((name + "/opaque").c_str(),
		    composite, v.run, true);
		benchmark::RegisterBenchmark((name + "/translucent").c_str(),
		    composite, v.run, false);
	}
	for (i = 0; i < nwidenvariants; i++) {
		const widenvariant &v = widenvariants[i];

		if (v.supported())
			benchmark::RegisterBenchmark((std::string("widen/") +
			    v.name).c_str(), widenrow, v.run);
	}
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}
