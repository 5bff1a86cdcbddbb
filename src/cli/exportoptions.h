// glyphdock-export's command line: the options each command takes, their help texts,
// and the choices of icons by number and by resource.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "iconfile/iconfile.h"

// Icons (or cursors) chosen by number, 1-based as the window and the shell number them:
// "3", "1,5", "2-9", "4-" (4 and every one after it).
class TNumberChoice {
 public:
  // False when the text is no such list.
  bool Parse(const std::string& text);
  bool Given() const { return !FRanges.empty(); }
  bool Has(std::uint32_t number) const;
  // The text as given, for messages.
  const std::string& Text() const { return FText; }

 private:
  std::vector<std::pair<std::uint32_t, std::uint32_t>> FRanges;
  std::string FText;
};

// A group chosen by its resource: a number ("101" or "#101") or a name, compared without
// regard to case as the resource compiler and the loader do for names.
class TResourceChoice {
 public:
  bool Parse(const std::string& text);
  bool Given() const { return FGiven; }
  bool Matches(const TIconGroup& group) const;
  const std::string& Text() const { return FText; }

 private:
  bool FGiven = false, FById = false;
  std::uint16_t FId = 0;
  std::string FName, FText;
};

struct TOptions {
  std::string Command;
  std::vector<std::string> Paths;
  std::string OutDir;  // "-": the one output to standard output
  bool Png = false, Recurse = false, Force = false, Json = false, HaveSize = false, Quiet = false;
  bool Icons = true, Cursors = true;  // the kinds a run reads (--icons, --cursors)
  std::uint32_t Size = 0;
  TNumberChoice Numbers;
  TResourceChoice Resource;
  bool Chosen(const TIconGroup& group) const {
    return (!Numbers.Given() || Numbers.Has(group.Index + 1)) && (!Resource.Given() || Resource.Matches(group));
  }
};

// The most a --size or a thumbnail's SIZE may ask for.
constexpr std::uint32_t MaxRequestedSize = 4096;
bool ParseSize(const std::string& text, std::uint32_t& size);

// Reads the command line into `o`. Answers -1 when the command is to run; otherwise the
// exit status, after writing the help or version text to `out` or the mistake to `err`.
int ParseCommandLine(int argc, const char* const* argv, TOptions& o, std::ostream& out, std::ostream& err);

// A usage mistake: the message and a pointer to --help (the command's own when known).
int UsageError(std::ostream& err, const std::string& message, const std::string& command = std::string());
