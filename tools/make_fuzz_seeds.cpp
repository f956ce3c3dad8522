// Writes the fuzz target's seeds, each behind the settings byte: the small ones of the committed
// corpus, or with --large those of three blocks and more.
//   make_fuzz_seeds tests/fuzz/corpus
//   make_fuzz_seeds FOLDER --large
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/fuzz_seeds.h"

int main(int argc, char** argv) {
  using namespace corvane::streamgen;
  if (argc < 2) return 2;
  bool large = argc > 2 && std::strcmp(argv[2], "--large") == 0;
  for (const FuzzSeed& seed : large ? largeFuzzSeeds() : smallFuzzSeeds()) {
    std::FILE* file = std::fopen((std::string(argv[1]) + "/" + seed.name).c_str(), "wb");
    if (file == nullptr ||
        std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) != seed.bytes.size() ||
        std::fclose(file) != 0) {
      std::perror(seed.name.c_str());
      return 1;
    }
  }
  return 0;
}
