// Runs a fuzz target once over each file named on the command line, or each
// file of each directory named: the kept regression inputs and the seed
// corpus, replayed by the tests without the fuzzing engine. A failing input
// crashes or is reported by the sanitizers, as under the engine.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

int replay(std::filesystem::path const& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return 1;
  }
  std::vector<std::uint8_t> const bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::filesystem::path(argv[1]) == "--help") {
    std::printf("usage: %s FILE|DIRECTORY...\nRuns the fuzz target once over each input file.\n", argv[0]);
    return argc < 2 ? 2 : 0;
  }
  int failed = 0;
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path const arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (auto const& entry : std::filesystem::directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        failed |= replay(entry.path());
        ++inputs;
      }
    } else {
      failed |= replay(arg);
      ++inputs;
    }
  }
  std::printf("%zu inputs replayed\n", inputs);
  return failed;
}
