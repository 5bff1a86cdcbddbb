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
  // The bytes the file really holds: its size, or less for a sparse file whose holes
  // hold nothing (POSIX: the blocks it takes). What the tool may write for an input is
  // measured by this, so a few kilobytes stating gigabytes earn no more than a few
  // kilobytes do.
  std::uint64_t StoredBytes() const { return FStored; }
  TReadAt Reader();

 private:
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length);
  std::FILE* FFile = nullptr;
  std::uint64_t FSize = 0, FStored = 0;
  std::uint64_t FWindowAt = 0, FWindowSize = 0, FWindowCapacity = 0;
  std::unique_ptr<unsigned char[]> FWindow;
  unsigned char* FMapping = nullptr;  // the whole file mapped, where the system can
};

// The files named on the command line, in order; folders give the plain files inside
// them, every level down, sorted by name, when `recurse` is set. A folder without
// `recurse` is refused when it is opened; a folder (at any level) that cannot be read is
// named in `problems` ("NAME: why"), and its readable neighbours are still walked. The
// folder `skipFolder` (extract's output folder) is never walked into.
struct TInputName {
  std::string Name;
  bool Named = true;  // named on the command line, not found inside a folder
  // Where the file's outputs go under the output folder: a named file's base name; for a
  // file found inside a folder, its path below that folder ("windows/system32/
  // shell32.dll"), so same-named files in different folders never share an output name.
  std::string OutputName;
};
std::vector<TInputName> ListInputs(const std::vector<std::string>& paths, bool recurse,
                                   std::vector<std::string>& problems, const std::string& skipFolder = std::string());

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
// program removes the temporary file it was writing (SIGINT, SIGTERM). A `name` that
// exists and is not a plain file (a folder, a device, a FIFO) is refused and left as it
// is. The temporary name is short, whatever the length of `name`.
bool WriteFileAtomically(const std::string& name, const std::vector<unsigned char>& bytes, std::string& problem);

// Writes `bytes` into the file `name` itself (made when missing), never a new file renamed
// over it: whoever asked for the output may hold that file open and read the result
// through its own descriptor. A reader that opens it by name while it is written, or
// after the program was stopped half-way, must not take part of the contents for the
// whole, so the first `markLength` bytes (a PNG's signature) are written last: the file
// is emptied, the rest written behind a gap of zeros, then the mark put in front. Until
// then the file is empty or does not begin with the mark. On failure the file is left
// empty, or removed when this call made it. A name that is not a plain file (a folder, a
// device, a FIFO) is refused and left as it is, never waited on.
bool WriteFileInPlace(const std::string& name, const std::vector<unsigned char>& bytes, std::size_t markLength,
                      std::string& problem);

// Standard output takes bytes as they are (no line-end translation on Windows).
void MakeStandardOutputBinary();

// The thumbnail's hard limits (POSIX): processor time and address space, lowered for
// this process only, never raised. False with `problem` when the system refuses them.
// Elsewhere it does nothing.
constexpr unsigned ThumbnailCpuSeconds = 5;             // the budgets keep it under half a second
constexpr std::uint64_t ThumbnailAddressSpace = 1ull << 30;  // the budgets keep it under 128 MB
bool LimitThumbnailResources(std::string& problem);
