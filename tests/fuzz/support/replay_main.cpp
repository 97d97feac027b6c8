// Runs a fuzz target over saved inputs without libFuzzer, so that the found
// crashers and the seed corpus replay under any compiler as an ordinary test.
//   <target>_replay FILE-OR-DIR...
// Directories are read in name order; a missing directory counts as empty.
// Any failure aborts the process, as it would under the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

int RunFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    static_cast<void>(std::fprintf(stderr, "replay: cannot read %s\n", path.c_str()));
    return 1;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A buffer of exactly the input's size, as libFuzzer hands it over, so that
  // reads past the end are caught by AddressSanitizer builds.
  auto *copy = new uint8_t[bytes.size()];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  int errors = 0;
  std::size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto &entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto &file : files) {
        errors += RunFile(file);
        ++runs;
      }
    } else if (std::filesystem::exists(arg)) {
      errors += RunFile(arg);
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return errors == 0 ? 0 : 1;
}
