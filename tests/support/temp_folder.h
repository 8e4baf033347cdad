#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kopiensieb::testing {

// A fresh folder under $TMPDIR (or /tmp) that is removed with everything in it when the object
// goes away. Paths given to the helpers are relative to the folder, with "/" between the
// components; missing parent folders are created on the way. Every helper walks the path one
// component at a time with openat, so trees deeper than PATH_MAX can be built and removed.
// The helpers never follow a symbolic link on the way. Failures throw std::runtime_error
// (GoogleTest reports them as test failures).
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The absolute path of the folder, without a trailing "/".
  const std::string& Path() const { return root_; }
  // The absolute path of an entry inside the folder ("" gives Path()).
  std::string PathOf(std::string_view relative) const;

  // Creates or replaces a regular file holding exactly these bytes; returns its absolute path.
  std::string WriteFile(std::string_view relative, std::string_view bytes);
  // Overwrites bytes at an offset of an existing file (growing it if the range goes beyond).
  void WriteAt(std::string_view relative, std::int64_t offset, std::string_view bytes);
  // Sets the size of a file, creating it empty first if needed (ftruncate: growing gives a
  // sparse hole of zero bytes).
  std::string Resize(std::string_view relative, std::int64_t size);
  // The whole content of a file.
  std::string ReadFile(std::string_view relative) const;

  // Creates a folder and any missing parents; returns its absolute path.
  std::string MakeFolder(std::string_view relative);
  // Creates a symbolic link holding `target` verbatim (it may dangle); returns its path.
  std::string MakeSymlink(std::string_view relative, std::string_view target);
  // Gives an existing file a second name (a hard link: one file, not a link to follow);
  // returns the new path.
  std::string MakeHardLink(std::string_view relative, std::string_view existing);
  // Creates a named pipe; returns its path. Nothing ever opens it here.
  std::string MakeFifo(std::string_view relative);
  // Sets the permission bits of an entry (not following a final symbolic link is not
  // possible on Linux, so do not call this on links).
  void SetMode(std::string_view relative, unsigned mode);
  // Sets the modification time of an entry, in nanoseconds since the epoch.
  void SetModifiedNs(std::string_view relative, std::int64_t modifiedNs);
  // Gives an entry another name, replacing a file of that name.
  void Rename(std::string_view from, std::string_view to);
  // Moves an entry aside (to relative + ".moved") and puts a symbolic link holding `target` in
  // its place, as another process racing a walk might.
  void SwapForLink(const std::string& relative, std::string_view target) {
    Rename(relative, relative + ".moved");
    MakeSymlink(relative, target);
  }
  // Whether anything (a dangling link included) stands at the path.
  bool Exists(std::string_view relative) const;
  // Removes an entry; a folder goes with everything in it.
  void Remove(std::string_view relative);

  // Builds a chain of `levels` nested folders below `relative` (which is created too), each
  // named `nameLength` times `fill`; returns the relative path of the deepest folder. With
  // 30 levels of 200 bytes the absolute path is far beyond PATH_MAX.
  std::string MakeDeepFolders(std::string_view relative, int levels, std::size_t nameLength,
                              char fill = 'd');

 private:
  std::string root_;
};

}  // namespace kopiensieb::testing
