#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_services.h"

namespace kopiensieb {

// Receives the file-progress value 0..100 (the program routes it to FileProgressBar).
using FileProgressSink = std::function<void(int)>;

// The bytes of a file of `size` that a comparison covers: size * percent / 100 for percent
// 1..100, else size, exact even where the product would overflow.
std::int64_t ComparedLength(std::int64_t size, std::int32_t percent);

// position * 100 / length, integer division (100 once nothing is left to read).
int ProgressPercent(std::int64_t position, std::int64_t length);

// 1 when the first size * percent / 100 bytes of both files (all of them for percent outside
// 1..100) have equal MD5 digests chunk by chunk (1,024 bytes), 0 when they differ, when either
// file cannot be opened, has another size than expected, or reads short.
int CompareFileContents(FileServices& files, const std::string& firstPath,
                        const std::string& secondPath, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress);

// A catalogued file as the search hands it to the comparison: where its identity is known, a
// different file found at its path (replaced since the scan) compares as different.
struct CataloguedPath {
  const std::string& path;
  FileIdentity identity;
};

// The same comparison for two catalogued files.
int CompareFileContents(FileServices& files, const CataloguedPath& first,
                        const CataloguedPath& second, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress);

// A catalogued file as the search holds it: where it lies (views of its record) and what it
// was, as for CataloguedPath.
struct CataloguedFile {
  FileLocation location;
  FileIdentity identity;
};

// The same comparison, the files opened through FileServices::OpenCatalogued.
int CompareFileContents(FileServices& files, const CataloguedFile& first,
                        const CataloguedFile& second, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress);

}  // namespace kopiensieb
