// Times the search over a catalogue far larger than any unit test holds: RECORDS records of
// distinct sizes (a content search that opens no file) whose names come in pairs that differ
// in letter case (a name search that forms RECORDS / 2 groups).
//
//   search_scale [RECORDS]      (default 1,000,000)
//
// Prints "content S s, name S s, groups G" and exits 0, or 1 when the groups are not the
// expected ones.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalogue/duplicate_search.h"
#include "platform/posix/posix_file_services.h"

namespace {

using namespace kopiensieb;

double SecondsOf(FileServices& files, FileCatalogue& catalogue, SearchMode mode,
                 DuplicateGroupList& groups, GroupMemberList& members) {
  EngineProgress silent;
  const auto start = std::chrono::steady_clock::now();
  FindDuplicates(files, catalogue, SearchRequest{.mode = mode}, SearchResults{groups, members},
                 silent);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t records = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
  FileCatalogue catalogue;
  for (std::int64_t index = 0; index < records; ++index) {
    FileRecord& record = catalogue.Add();
    record.folder = "/nirgends";
    record.name = "datei" + std::to_string(index / 2) + (index % 2 == 0 ? ".txt" : ".TXT");
    record.size = index + 1;
    record.identity = {1, static_cast<std::uint64_t>(index + 1)};
  }
  PosixFileServices files;
  DuplicateGroupList groups;
  GroupMemberList members;
  const double content = SecondsOf(files, catalogue, SearchMode::SameContent, groups, members);
  const std::int64_t contentGroups = groups.Count();
  const double name = SecondsOf(files, catalogue, SearchMode::SameName, groups, members);
  std::printf("content %.2f s, name %.2f s, groups %lld\n", content, name,
              static_cast<long long>(groups.Count()));
  return contentGroups == 0 && groups.Count() == records / 2 ? 0 : 1;
}
