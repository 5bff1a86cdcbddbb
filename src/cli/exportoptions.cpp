#include "cli/exportoptions.h"

#include <cstdlib>
#include <ostream>

#ifndef GLYPHDOCK_VERSION
#error "GLYPHDOCK_VERSION comes from the build: the version resource's ProductVersion"
#endif

namespace {

const char Program[] = "glyphdock-export";

const char GeneralHelp[] =
    "Usage: glyphdock-export list [OPTION]... PATH...\n"
    "       glyphdock-export extract [OPTION]... -o DIR PATH...\n"
    "       glyphdock-export thumbnail [OPTION]... FILE OUT.png|- SIZE\n"
    "\n"
    "Reads the icons and cursors of Windows programs and libraries (PE and NE files) and\n"
    "of .ico, .cur and .ani files, numbered Icon1, Icon2, ... as Glyphdock numbers them\n"
    "and Cursor1, Cursor2, ... apart.\n"
    "\n"
    "  list       one line an icon or cursor, with its resource and its images\n"
    "  extract    each icon as an .ico file, each cursor as a .cur file, as stored\n"
    "  thumbnail  an icon's image that best fits SIZE, as a PNG no larger than SIZE\n"
    "\n"
    "'glyphdock-export COMMAND --help' tells a command's options.\n"
    "\n"
    "  -h, --help        this text\n"
    "      --version     the version\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when some file could not be read, was\n"
    "refused, held no icons (files inside folders may hold none) or could not be written,\n"
    "2 for a mistake on the command line.\n";

// Options more than one command takes.
const char ChoiceHelp[] =
    "      --icon LIST       only these numbers: 3, 1,5, 2-9 or 4- (from 1, as the\n"
    "                        window numbers; icons and cursors are numbered apart)\n"
    "      --resource NAME|ID  only the group of this resource name or number (#ID too)\n";
const char KindHelp[] =
    "      --icons           icons only\n"
    "      --cursors         cursors only (both by default)\n";
const char CommonHelp[] =
    "  -q, --quiet           only problems on standard error (no summary, no progress,\n"
    "                        nothing said of files inside folders that hold no icons)\n"
    "  -h, --help            this text\n"
    "\n"
    "Exit status: 0 when all went well, 1 when some file failed, 2 for a mistake on the\n"
    "command line.\n";

const char ListHelp[] =
    "Usage: glyphdock-export list [OPTION]... PATH...\n"
    "One line an icon or cursor, fields separated by tabs: the file, IconN or CursorN,\n"
    "the group's resource (number or name; - in an .ico, .cur or .ani file), its\n"
    "language (- where the file has none), then each image as WxH, bits and format\n"
    "(cursors with @X,Y, the hot spot). Control characters in names are shown as \\xNN.\n"
    "\n"
    "      --json            a JSON array, one object a file\n"
    "  -r, --recursive       read folders, every level down\n";

const char ExtractHelp[] =
    "Usage: glyphdock-export extract [OPTION]... -o DIR PATH...\n"
    "Each icon as an .ico file and each cursor as a .cur file with all its images as\n"
    "stored, named FILE-IconN.ico or FILE-CursorN.cur after the input file's name. A file\n"
    "found inside a folder (-r) keeps its path below that folder under DIR.\n"
    "\n"
    "  -o, --output DIR      where to write (made when missing); - writes the one output\n"
    "                        file of a run to standard output\n"
    "      --png             one PNG a image instead (FILE-IconN-WxH-Bbit.png; cursors\n"
    "                        FILE-CursorN-WxH-Bbit-hotspotX,Y.png)\n"
    "      --size N          only the image nearest to N pixels a side, per icon\n"
    "                        (then named FILE-IconN.ico or FILE-IconN.png)\n"
    "  -r, --recursive       read folders, every level down\n"
    "  -f, --force           replace files that exist\n";

const char ThumbnailHelp[] =
    "Usage: glyphdock-export thumbnail [OPTION]... FILE OUT.png|- SIZE\n"
    "The image of the first icon (or the first one chosen; of a .cur or .ani file, the\n"
    "first cursor) that best fits SIZE (1 to 4096), as a PNG no larger than SIZE a side,\n"
    "written into OUT.png itself (- for standard output).\n"
    "\n";

void PrintHelp(std::ostream& out, const std::string& command) {
  if (command == "list") {
    out << ListHelp << ChoiceHelp << KindHelp << CommonHelp;
  } else if (command == "extract") {
    out << ExtractHelp << ChoiceHelp << KindHelp << CommonHelp;
  } else if (command == "thumbnail") {
    out << ThumbnailHelp << ChoiceHelp << CommonHelp;
  } else {
    out << GeneralHelp;
  }
}

bool ParseNumber(const std::string& text, std::uint32_t& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

bool IsCommand(const std::string& text) { return text == "list" || text == "extract" || text == "thumbnail"; }

}  // namespace

bool TNumberChoice::Parse(const std::string& text) {
  FRanges.clear();
  FText = text;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    const std::size_t dash = part.find('-');
    std::uint32_t from = 0, to = 0;
    if (dash == std::string::npos) {
      if (!ParseNumber(part, from)) return false;
      to = from;
    } else {
      if (!ParseNumber(part.substr(0, dash), from)) return false;
      const std::string last = part.substr(dash + 1);
      if (last.empty()) to = UINT32_MAX;
      else if (!ParseNumber(last, to)) return false;
    }
    if (from < 1 || to < from) return false;
    FRanges.emplace_back(from, to);
    at = comma + 1;
  }
  return !FRanges.empty();
}

bool TNumberChoice::Has(std::uint32_t number) const {
  for (const auto& range : FRanges)
    if (number >= range.first && number <= range.second) return true;
  return false;
}

namespace {
std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}
}  // namespace

bool TResourceChoice::Parse(const std::string& text) {
  FText = text;
  if (text.empty()) return false;
  std::uint32_t id = 0;
  const std::string digits = text[0] == '#' ? text.substr(1) : text;
  FById = ParseNumber(digits, id);
  if (FById && id > 0xFFFF) return false;
  if (!FById && text[0] == '#') return false;
  FId = static_cast<std::uint16_t>(id);
  FName = Upper(text);
  FGiven = true;
  return true;
}

bool TResourceChoice::Matches(const TIconGroup& group) const {
  if (!group.HasResource) return false;
  if (FById) return group.ResourceName.empty() && group.ResourceId == FId;
  return !group.ResourceName.empty() && Upper(group.ResourceName) == FName;
}

bool ParseSize(const std::string& text, std::uint32_t& size) {
  std::uint32_t v = 0;
  if (text.size() > 5 || !ParseNumber(text, v) || v < 1 || v > MaxRequestedSize) return false;
  size = v;
  return true;
}

int UsageError(std::ostream& err, const std::string& message, const std::string& command) {
  err << Program << ": " << message << "\nTry '" << Program << (IsCommand(command) ? " " + command : std::string())
      << " --help'.\n";
  return 2;
}

int ParseCommandLine(int argc, const char* const* argv, TOptions& o, std::ostream& out, std::ostream& err) {
  bool optionsEnd = false, help = false, sawIcons = false, sawCursors = false;
  std::string sizeText;
  // The options that take a value, long and short; the value follows in the same word
  // (--output=DIR, -oDIR) or in the next one.
  struct TValued {
    const char* Long;
    char Short;
    const char* Needs;
  };
  static const TValued valued[] = {{"output", 'o', "a folder"},
                                   {"size", 0, "a number"},
                                   {"icon", 0, "a list of numbers"},
                                   {"resource", 0, "a name or number"}};
  struct TFlag {
    const char* Long;
    char Short;
  };
  static const TFlag flags[] = {{"recursive", 'r'}, {"force", 'f'}, {"quiet", 'q'}, {"help", 'h'}, {"json", 0},
                                {"png", 0},         {"version", 0}, {"icons", 0},   {"cursors", 0}};
  bool version = false;
  // Applies one option; false (with the mistake reported) when it is wrong.
  auto apply = [&](const std::string& name, const std::string& value, const std::string& given) {
    if (name == "recursive") o.Recurse = true;
    else if (name == "force") o.Force = true;
    else if (name == "quiet") o.Quiet = true;
    else if (name == "help") help = true;
    else if (name == "json") o.Json = true;
    else if (name == "png") o.Png = true;
    else if (name == "version") version = true;
    else if (name == "icons") sawIcons = true;
    else if (name == "cursors") sawCursors = true;
    else if (name == "output") {
      if (value.empty()) return UsageError(err, "option " + given + " needs a folder", o.Command), false;
      o.OutDir = value;
    } else if (name == "size") {
      if (!ParseSize(value, o.Size))
        return UsageError(err, "--size takes a number from 1 to 4096, not '" + value + "'", o.Command), false;
      o.HaveSize = true;
    } else if (name == "icon") {
      if (!o.Numbers.Parse(value))
        return UsageError(err, "--icon takes numbers from 1 such as 3, 1,5 or 2-9, not '" + value + "'", o.Command),
               false;
    } else if (name == "resource") {
      if (!o.Resource.Parse(value))
        return UsageError(err, "--resource takes a name or a number up to 65535, not '" + value + "'", o.Command),
               false;
    }
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (optionsEnd || a.size() < 2 || a[0] != '-') {
      if (o.Command.empty()) o.Command = a;
      else o.Paths.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
      continue;
    }
    if (a[1] == '-') {  // --name or --name=value
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      bool known = false;
      for (const TValued& v : valued) {
        if (name != v.Long) continue;
        known = true;
        std::string value;
        if (eq != std::string::npos) value = a.substr(eq + 1);
        else if (i + 1 < argc) value = argv[++i];
        else return UsageError(err, "option --" + name + " needs " + v.Needs, o.Command);
        if (!apply(name, value, "--" + name)) return 2;
      }
      for (const TFlag& f : flags) {
        if (name != f.Long) continue;
        known = true;
        if (eq != std::string::npos) return UsageError(err, "option --" + name + " takes no value", o.Command);
        apply(name, "", a);
      }
      if (!known) return UsageError(err, "unknown option '" + a.substr(0, eq) + "'", o.Command);
      continue;
    }
    // Short options, combined as -rf; one that takes a value takes the rest of the word
    // (-oDIR) or the next word.
    for (std::size_t k = 1; k < a.size(); ++k) {
      const char c = a[k];
      const TFlag* flag = nullptr;
      for (const TFlag& f : flags)
        if (f.Short && f.Short == c) flag = &f;
      if (flag) {
        apply(flag->Long, "", std::string("-") + c);
        continue;
      }
      const TValued* takes = nullptr;
      for (const TValued& v : valued)
        if (v.Short && v.Short == c) takes = &v;
      if (!takes) return UsageError(err, std::string("unknown option '-") + c + "'", o.Command);
      std::string value;
      if (k + 1 < a.size()) value = a.substr(k + 1);
      else if (i + 1 < argc) value = argv[++i];
      else return UsageError(err, std::string("option -") + c + " needs " + takes->Needs, o.Command);
      if (!apply(takes->Long, value, std::string("-") + c)) return 2;
      break;
    }
  }
  if (help) {
    PrintHelp(out, o.Command);
    return 0;
  }
  if (version) {
    out << Program << ' ' << GLYPHDOCK_VERSION << '\n';
    return 0;
  }
  if (sawIcons || sawCursors) {
    o.Icons = sawIcons;
    o.Cursors = sawCursors;
  }
  const std::string& c = o.Command;
  if (c.empty()) return UsageError(err, "no command given (list, extract or thumbnail)");
  if (!IsCommand(c)) return UsageError(err, "unknown command '" + c + "' (list, extract or thumbnail)");
  if (c == "list") {
    if (o.Paths.empty()) return UsageError(err, "list: no file given", c);
    if (o.Png || o.HaveSize || o.Force || !o.OutDir.empty())
      return UsageError(err, "list takes no --png, --size, --force or --output", c);
    return -1;
  }
  if (c == "extract") {
    if (o.Paths.empty()) return UsageError(err, "extract: no file given", c);
    if (o.OutDir.empty()) return UsageError(err, "extract: no output folder given (-o DIR)", c);
    if (o.Json) return UsageError(err, "extract does not take --json", c);
    if (o.OutDir == "-" && (o.Paths.size() != 1 || o.Recurse))
      return UsageError(err, "extract -o - writes one file: give one file and no -r", c);
    return -1;
  }
  // thumbnail
  if (o.Paths.size() != 3) return UsageError(err, "thumbnail takes FILE OUT.png|- SIZE", c);
  if (o.Png || o.HaveSize || o.Force || o.Json || o.Recurse || !o.OutDir.empty() || sawIcons || sawCursors)
    return UsageError(err, "thumbnail takes only --icon, --resource and -q", c);
  if (!ParseSize(o.Paths[2], o.Size))
    return UsageError(err, "thumbnail: SIZE is a number from 1 to 4096, not '" + o.Paths[2] + "'", c);
  return -1;
}
