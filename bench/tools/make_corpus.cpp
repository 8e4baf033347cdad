// Writes a reproducible tree of files for timing duplicate searches: originals of random
// content and size, copies of some of them, and files that share an original's size but not
// its content (half of them differ from byte 0, half only in their last kilobyte, which is
// the expensive kind to tell apart). The same arguments always give the same bytes.
//
//   make_corpus DIR FILES MIN_SIZE MAX_SIZE COPY_PERCENT SAME_SIZE_PERCENT SEED [DEPTH]
//
// Sizes are spread evenly on a log scale between MIN_SIZE and MAX_SIZE. Without DEPTH, files
// go 100 to a folder as DIR/dNNNN/fNNNNNNN.bin. With DEPTH, sizes are spread evenly on a
// linear scale instead and the files are dealt out in turn over a tree of folders three wide
// and DEPTH deep below DIR (DIR included: (3^(DEPTH+1) - 1) / 2 folders), the shape of a deep
// tree of many small files. On success it prints one line "files F bytes B sets S copies C"
// (S: the sets of files of equal content, the number of duplicate sets every tool must find;
// tiny originals may meet by chance, and they count as they are) and exits 0.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 100;
constexpr std::int64_t kTail = 1024;

// splitmix64: small, fast and fully specified, so a seed means the same corpus everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

 private:
  std::uint64_t state_;
};

struct FilePlan {
  std::int64_t size = 0;
  std::uint64_t contentSeed = 0;
  std::uint64_t tailSeed = 0;  // not 0: the last kilobyte comes from this seed instead
  bool copied = false;         // an original that got a copy
  bool original = false;
};

// Fills `bytes` with the stream of `seed`, starting at stream offset `offset` (a multiple of 8).
void FillFromSeed(std::vector<char>& bytes, std::uint64_t seed, std::int64_t offset) {
  Random stream(seed ^ static_cast<std::uint64_t>(offset / 8) * 0xD1B54A32D192ED03ULL);
  for (std::size_t at = 0; at < bytes.size(); at += 8) {
    const std::uint64_t word = stream.Next();
    std::memcpy(bytes.data() + at, &word, std::min<std::size_t>(8, bytes.size() - at));
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool WriteFile(const std::filesystem::path& path, const FilePlan& plan) {
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    return false;
  }
  constexpr std::int64_t kBlock = std::int64_t{1} << 20;
  std::vector<char> block;
  const std::int64_t tailStart =
      plan.tailSeed != 0 ? std::max<std::int64_t>(plan.size - kTail, 0) : plan.size;
  for (std::int64_t offset = 0; offset < plan.size; offset += kBlock) {
    const std::int64_t length = std::min(kBlock, plan.size - offset);
    block.resize(static_cast<std::size_t>(length));
    // Each 1 MiB block is its own stream, so the tail can be replaced without the rest moving.
    FillFromSeed(block, plan.contentSeed, offset);
    if (offset + length > tailStart) {
      const std::int64_t from = std::max(tailStart, offset);
      std::vector<char> tail(static_cast<std::size_t>(offset + length - from));
      FillFromSeed(tail, plan.tailSeed, 0);
      std::copy(tail.begin(), tail.end(), block.begin() + (from - offset));
    }
    if (std::fwrite(block.data(), 1, block.size(), out.get()) != block.size()) {
      return false;
    }
  }
  return std::fflush(out.get()) == 0;
}

// The folders of a tree three wide and `depth` deep below `root`, the root first, parents
// before their children.
std::vector<std::filesystem::path> TreeFolders(const std::filesystem::path& root, int depth) {
  std::vector<std::filesystem::path> folders{root};
  std::size_t levelStart = 0;
  for (int level = 0; level < depth; ++level) {
    const std::size_t levelEnd = folders.size();
    for (std::size_t parent = levelStart; parent < levelEnd; ++parent) {
      for (int child = 0; child < 3; ++child) {
        folders.push_back(folders[parent] / ("t" + std::to_string(child)));
      }
    }
    levelStart = levelEnd;
  }
  return folders;
}

// Below this size random originals may share their bytes by chance: they are told apart by
// their bytes, larger ones by their seeds.
constexpr std::int64_t kTiny = 16;

using ContentKey = std::tuple<std::int64_t, std::uint64_t, std::uint64_t, std::string>;

ContentKey KeyOf(const FilePlan& plan) {
  if (plan.size > kTiny) {
    return {plan.size, plan.contentSeed, plan.tailSeed, {}};
  }
  std::vector<char> bytes(static_cast<std::size_t>(plan.size));
  FillFromSeed(bytes, plan.tailSeed != 0 ? plan.tailSeed : plan.contentSeed, 0);
  return {plan.size, 0, 0, std::string(bytes.begin(), bytes.end())};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8 && argc != 9) {
    std::fprintf(stderr,
                 "usage: %s DIR FILES MIN_SIZE MAX_SIZE COPY_PERCENT SAME_SIZE_PERCENT SEED "
                 "[DEPTH]\n",
                 argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const int files = std::stoi(argv[2]);
  const std::int64_t minSize = std::stoll(argv[3]);
  const std::int64_t maxSize = std::stoll(argv[4]);
  const int copyPercent = std::stoi(argv[5]);
  const int sameSizePercent = std::stoi(argv[6]);
  Random random(std::stoull(argv[7]));
  const int depth = argc == 9 ? std::stoi(argv[8]) : 0;
  if (files <= 0 || minSize <= 0 || maxSize < minSize || copyPercent + sameSizePercent > 100 ||
      depth < 0 || depth > 12) {
    std::fprintf(stderr, "make_corpus: bad arguments\n");
    return 2;
  }

  std::vector<FilePlan> plans(static_cast<std::size_t>(files));
  std::vector<std::size_t> originals;
  const double logMin = std::log(static_cast<double>(minSize));
  const double logMax = std::log(static_cast<double>(maxSize));
  for (std::size_t index = 0; index < plans.size(); ++index) {
    FilePlan& plan = plans[index];
    const auto roll = static_cast<int>(random.Below(100));
    if (!originals.empty() && roll < copyPercent) {
      FilePlan& source = plans[originals[random.Below(originals.size())]];
      source.copied = true;
      plan.size = source.size;
      plan.contentSeed = source.contentSeed;
    } else if (!originals.empty() && roll < copyPercent + sameSizePercent) {
      const FilePlan& source = plans[originals[random.Below(originals.size())]];
      plan.size = source.size;
      if (random.Below(2) == 0) {
        plan.contentSeed = random.Next() | 1;
      } else {
        plan.contentSeed = source.contentSeed;
        plan.tailSeed = random.Next() | 1;
      }
    } else {
      plan.original = true;
      plan.size =
          depth > 0 ? minSize + static_cast<std::int64_t>(
                                    random.Below(static_cast<std::uint64_t>(maxSize - minSize + 1)))
                    : static_cast<std::int64_t>(
                          std::llround(std::exp(logMin + (logMax - logMin) * random.Unit())));
      plan.size = std::clamp(plan.size, minSize, maxSize);
      plan.contentSeed = random.Next() | 1;
      originals.push_back(index);
    }
  }

  const std::vector<std::filesystem::path> tree =
      depth > 0 ? TreeFolders(root, depth) : std::vector<std::filesystem::path>{};
  for (const std::filesystem::path& folder : tree) {
    std::filesystem::create_directories(folder);
  }
  std::int64_t bytes = 0;
  for (std::size_t index = 0; index < plans.size(); ++index) {
    char folder[32];
    char name[32];
    std::snprintf(folder, sizeof folder, "d%04zu", index / kFilesPerFolder);
    std::snprintf(name, sizeof name, "f%07zu.bin", index);
    const std::filesystem::path directory = depth > 0 ? tree[index % tree.size()] : root / folder;
    if (depth == 0) {
      std::filesystem::create_directories(directory);
    }
    if (!WriteFile(directory / name, plans[index])) {
      std::fprintf(stderr, "make_corpus: cannot write %s\n", (directory / name).c_str());
      return 1;
    }
    bytes += plans[index].size;
  }
  std::map<ContentKey, int> contents;
  for (const FilePlan& plan : plans) {
    ++contents[KeyOf(plan)];
  }
  const auto sets = std::count_if(contents.begin(), contents.end(),
                                  [](const auto& content) { return content.second >= 2; });
  const auto copies = static_cast<std::int64_t>(plans.size() - originals.size());
  std::printf("files %d bytes %lld sets %lld copies %lld\n", files, static_cast<long long>(bytes),
              static_cast<long long>(sets), static_cast<long long>(copies));
  return 0;
}
