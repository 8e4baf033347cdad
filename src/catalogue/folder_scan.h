#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "catalogue/engine_progress.h"
#include "catalogue/records.h"
#include "platform/file_services.h"

namespace kopiensieb {

// The folder as the folder list holds it: ending in the separator ("/", on Windows "\"), so
// that coverage compares whole names ("/a/b" would otherwise cover "/a/bc/").
std::string FolderWithSeparator(std::string folder);

// True when chosen (ending in the separator) equals, or lies inside, a folder of the list. Leaves
// the cursor on the last folder, so a folder added next goes behind it.
bool IsFolderCovered(FolderList& folders, const std::string& chosen);

// Folders the scan holds open at once. Below that depth the shallowest open folder is read to
// its end and closed, and its remaining subfolders are opened by their paths when they come
// up, so a tree deeper than the limit of open files is still read whole.
inline constexpr std::size_t kMostOpenFolders = 256;

// Catalogues every file in folder and below it whose name matches one of the patterns of
// patternText (every file when it holds none), depth first in the file system's order, each
// new record behind the catalogue's current one. The parsed patterns are left in `patterns`.
// Folders are listed on two threads where the file services allow it
// (FileServices::EnumeratesOnAnyThread) and the machine has a second core; the records, their
// order and every progress report are the same either way.
void ScanFolder(FileServices& files, const std::string& folder, std::string_view patternText,
                PatternList& patterns, FileCatalogue& catalogue, EngineProgress& progress);

// One: the calling thread lists the folders and catalogues. Two: a second thread lists folders
// (reads them and looks at their files) ahead of the calling thread, which lists the others,
// catalogues and reports.
enum class ScanThreads { One, Two };
void ScanFolder(FileServices& files, const std::string& folder, std::string_view patternText,
                PatternList& patterns, FileCatalogue& catalogue, EngineProgress& progress,
                ScanThreads threads);

}  // namespace kopiensieb
