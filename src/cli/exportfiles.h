// Files for glyphdock-export, through C stdio and std::filesystem only, so the same code
// builds natively and as a Windows console program. File names are narrow strings as
// the command line gives them: bytes on Linux, the ANSI code page on Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "iconfile/iconfile.h"

// An input file opened for reading: its size and a byte source for the icon-file reader.
// The file is mapped where the system can (POSIX); otherwise reads go through a window
// of the file kept in memory, so the reader's many small reads near each other cost one
// read.
class TInputFile {
 public:
  TInputFile() = default;
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;
  ~TInputFile();

  // Opens a plain file; anything else (a folder, a device, a pipe) is refused without
  // being read. On failure `problem` says why.
  bool Open(const std::string& name, std::string& problem);
  std::uint64_t Size() const { return FSize; }
  TReadAt Reader();

 private:
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length);
  std::FILE* FFile = nullptr;
  std::uint64_t FSize = 0;
  std::uint64_t FWindowAt = 0, FWindowSize = 0, FWindowCapacity = 0;
  std::unique_ptr<unsigned char[]> FWindow;
  unsigned char* FMapping = nullptr;  // the whole file mapped, where the system can
};

// The files named on the command line, in order; folders give the plain files inside
// them, every level down, sorted by name, when `recurse` is set. A folder without
// `recurse`, or one that cannot be read, is named in `problems` ("NAME: why").
struct TInputName {
  std::string Name;
  bool Named = true;  // named on the command line, not found inside a folder
  // Where the file's outputs go under the output folder: a named file's base name; for a
  // file found inside a folder, its path below that folder ("windows/system32/
  // shell32.dll"), so same-named files in different folders never share an output name.
  std::string OutputName;
};
std::vector<TInputName> ListInputs(const std::vector<std::string>& paths, bool recurse,
                                   std::vector<std::string>& problems);

// The last part of a file name: "shell32.dll" for "/x/y/shell32.dll" (or "C:\x\shell32.dll").
std::string BaseName(const std::string& name);
// dir + separator + name.
std::string JoinPath(const std::string& dir, const std::string& name);
bool PathExists(const std::string& name);
// The folder part of a file name with its separator ("/x/y/" for "/x/y/shell32.dll");
// empty for a bare name.
std::string ParentFolder(const std::string& name);
// Makes the folder and any missing parents; false with `problem` when it cannot.
bool MakeFolder(const std::string& dir, std::string& problem);

// Writes `bytes` to `name` through a temporary file in the same folder that is renamed
// over it at the end, so no half-written file ever carries the name. An interrupted
// program removes the temporary file it was writing (SIGINT, SIGTERM).
bool WriteFileAtomically(const std::string& name, const std::vector<unsigned char>& bytes, std::string& problem);
