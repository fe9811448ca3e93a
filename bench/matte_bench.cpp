// The matte tool's speed on a production-sized frame: a 3840x2160 float ID
// image of 5,000 objects, unmixed whole and written as Cryptomatte, and one
// name's matte, each set against what OpenEXR alone takes to read that
// image (and to write an EXR of the Cryptomatte's channels).
//   matte_bench [--benchmark_...]     (makes the image once, in its folder)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/module.hpp"
#include "tools/common/exr_file.h"
#include "tools/matte/matte.h"

namespace {

const std::string& frame() {
  static const std::string path = [] {
    const std::string folder = support::program_directory();
    const std::string image = folder + "/matte_bench_frame.exr";
    if (!std::fopen(image.c_str(), "rb")) {
      const std::string make =
          "python3 " RAVELTINT_SOURCE "/bench/make_scene.py 5000 > " + folder +
          "/matte_bench_scene.json && " + folder + "/refhost --scene " +
          folder + "/matte_bench_scene.json --size 3840x2160 --samples 2 " +
          "--exr " + image + " --out " + folder + "/matte_bench_frame.png " +
          "--manifest " + folder + "/matte_bench_frame.json >/dev/null 2>&1";
      if (std::system(make.c_str()) != 0) std::abort();
    }
    return image;
  }();
  return path;
}

int run_matte(std::vector<std::string> args) {
  args.insert(args.begin(), "ravelTint-matte");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  // The tool's report goes nowhere; the benchmark's own stays.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  const int status = matte::run(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null);
  return status;
}

void BM_ReadExr(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(common::read_exr(frame()));
}

// Reading the image, and writing an EXR of the image and six ranks of
// coverage (16 float channels), as OpenEXR alone does them.
void BM_ReadAndWriteCryptomatteChannels(benchmark::State& state) {
  for (auto _ : state) {
    const common::ExrImage image = common::read_exr(frame());
    const std::size_t pixels = static_cast<std::size_t>(image.width) *
                               static_cast<std::size_t>(image.height);
    std::vector<float> values(pixels * 16, 0.5f);
    common::ExrPicture picture;
    picture.width = image.width;
    picture.height = image.height;
    for (int c = 0; c < 16; ++c)
      picture.channels.push_back(
          {"c" + std::to_string(c), values.data() + c, 16});
    benchmark::DoNotOptimize(common::exr_bytes(picture));
  }
}

void BM_UnmixToCryptomatte(benchmark::State& state) {
  const std::string threads = std::to_string(state.range(0));
  for (auto _ : state)
    if (run_matte({frame(), "--cryptomatte", "/tmp/matte_bench_crypto.exr",
                   "--threads", threads}) != 0)
      state.SkipWithError("ravelTint-matte failed");
}

void BM_SelectOneName(benchmark::State& state) {
  const std::string threads = std::to_string(state.range(0));
  for (auto _ : state)
    if (run_matte({frame(), "--select", "sphere_0002001", "--out",
                   "/tmp/matte_bench_one.exr", "--threads", threads}) != 0)
      state.SkipWithError("ravelTint-matte failed");
}

BENCHMARK(BM_ReadExr)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadAndWriteCryptomatteChannels)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_UnmixToCryptomatte)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SelectOneName)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

// The frame is made before any measure.
int main(int argc, char** argv) {
  frame();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
