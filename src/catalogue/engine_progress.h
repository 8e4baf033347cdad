#pragma once

#include <cstdint>
#include <string>

namespace kopiensieb {

// What the scan and the search tell while they run. They know nothing of windows: whoever
// starts them decides where this goes (the status bar and the progress bars of the main
// window, or nowhere). Every method does nothing unless overridden.
class EngineProgress {
 public:
  virtual ~EngineProgress() = default;

  // What is being done ("Lese Dateien...", "Suche doppelte Dateien").
  virtual void Activity(const std::string& /*text*/) {}
  // The scan: the catalogue now holds this many records. Told after every folder entry.
  virtual void CataloguedCount(std::int64_t /*records*/) {}
  // The search: this many of the catalogue's records have been the reference so far.
  virtual void SearchedCount(std::int64_t /*processed*/, std::int64_t /*total*/) {}
  // The search as a whole, 0..100.
  virtual void SearchProgress(int /*percent*/) {}
  // The file being read, 0..100: 0 whenever the next reference comes up, then each change.
  virtual void FileProgress(int /*percent*/) {}
  // A long stretch that has nothing else to tell: a window can repaint here.
  virtual void KeepPainting() {}
};

}  // namespace kopiensieb
