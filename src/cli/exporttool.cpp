#include "cli/exporttool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "cli/exportfiles.h"
#include "cli/exportoptions.h"
#include "iconfile/pngcodec.h"

namespace {

const char Program[] = "glyphdock-export";
// The eight bytes every PNG begins with.
constexpr std::size_t PngSignatureLength = 8;

std::uint32_t Side(const TIconImage& image) { return std::max(image.Width, image.Height); }

const char* FormatName(const TIconImage& image) { return image.Png ? "png" : "bmp"; }

// The progress line on a terminal: shown once the work has taken a second, redrawn at
// most ten times a second, wiped at the end.
class TProgress {
 public:
  TProgress(std::ostream& err, bool terminal, std::size_t total) : FErr(err), FOn(terminal && total > 1), FTotal(total) {}
  ~TProgress() { Clear(); }
  void Step(std::size_t done) {
    if (!FOn) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - FStart < std::chrono::seconds(1) || now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    FErr << '\r' << Program << ": " << done << " of " << FTotal << " files" << std::flush;
    FShown = true;
  }
  // Before a message: the message gets a line of its own.
  void Clear() {
    if (!FShown) return;
    FErr << "\r" << std::string(std::string(Program).size() + 40, ' ') << '\r' << std::flush;
    FShown = false;
  }

 private:
  std::ostream& FErr;
  bool FOn;
  std::size_t FTotal;
  bool FShown = false;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now(), FLast{};
};

// A name on a line of plain `list` output: control characters (a newline would forge a
// line, a tab a column) become \xHH; every other byte is kept as it is.
std::string PlainName(const std::string& name) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool ThumbnailLimitsOn = false;

// How a run went, file by file.
struct TTally {
  std::size_t Files = 0, Icons = 0, Cursors = 0, Written = 0, WithoutIcons = 0, Refused = 0, WriteFailures = 0;
  bool Failed = false;
};

// "Icon3" or "Cursor3".
std::string GroupLabel(const TIconGroup& group) {
  return (group.Cursor ? "Cursor" : "Icon") + std::to_string(group.Index + 1);
}

// One input file read through the icon-file reader, and the groups the options choose
// from it (icons, then cursors). False (with a message) when it cannot be read, is
// refused or has nothing chosen. Nothing found in a file inside a folder is no failure
// and, with --quiet, not told.
bool ReadInput(const TOptions& o, const TInputName& input, TInputFile& file, TIconFile& icons,
               std::vector<const TIconGroup*>& chosen, std::ostream& err, TProgress& progress, TTally& tally,
               TIconScope scope = TIconScope::WholeFile) {
  std::string problem;
  ++tally.Files;
  if (!file.Open(input.Name, problem)) {
    progress.Clear();
    err << Program << ": " << input.Name << ": " << problem << '\n';
    ++tally.Refused;
    tally.Failed = true;
    return false;
  }
  icons = ReadIconFile(file.Size(), file.Reader(), scope, o.Cursors);
  if (!icons.Sound) {
    progress.Clear();
    err << Program << ": " << input.Name << ": refused: " << (icons.Problem.empty() ? "unsound" : icons.Problem) << '\n';
    ++tally.Refused;
    tally.Failed = true;
    return false;
  }
  if (o.Cursors && !icons.CursorProblem.empty()) {
    progress.Clear();
    err << Program << ": " << input.Name << ": cursors left out: " << icons.CursorProblem << '\n';
  }
  // An image the reader found unsound (in an .ico file, one the shell never picks, e.g.
  // cut short by the end of the file) is left out; the icon keeps its number and its
  // other images.
  std::size_t found = 0;
  for (std::vector<TIconGroup>* kind : {&icons.Groups, &icons.Cursors}) {
    const bool wanted = kind == &icons.Groups ? o.Icons : o.Cursors;
    for (TIconGroup& group : *kind) {
      group.Images.erase(std::remove_if(group.Images.begin(), group.Images.end(),
                                        [](const TIconImage& image) { return !image.Sound; }),
                         group.Images.end());
      if (!wanted) continue;
      ++found;
      if (o.Chosen(group)) chosen.push_back(&group);
    }
  }
  if (!chosen.empty()) return true;
  std::string why;
  if (found > 0) {
    why = "none chosen by";
    if (o.Numbers.Given()) why += " --icon " + o.Numbers.Text();
    if (o.Resource.Given()) why += " --resource " + o.Resource.Text();
    why += " (" + std::to_string(found) + " in the file)";
  } else if (icons.Form == TIconFileForm::Other) {
    why = "not a Windows program or icon file";
  } else {
    why = o.Icons ? "no icons" : "no cursors";
  }
  ++tally.WithoutIcons;
  if (input.Named) tally.Failed = true;
  if (input.Named || !o.Quiet) {
    progress.Clear();
    err << Program << ": " << input.Name << ": " << why << '\n';
  }
  return false;
}

void ListGroupPlain(const std::string& file, const TIconGroup& group, std::ostream& out) {
  out << PlainName(file) << '\t' << GroupLabel(group) << '\t';
  if (!group.HasResource) out << '-';
  else if (!group.ResourceName.empty()) out << PlainName(group.ResourceName);
  else out << group.ResourceId;
  out << '\t';
  if (group.HasLanguage) out << group.Language;
  else out << '-';
  for (const TIconImage& image : group.Images) {
    out << '\t' << image.Width << 'x' << image.Height << ' ' << image.BitCount << "-bit " << FormatName(image);
    if (group.Cursor) out << " @" << image.HotspotX << ',' << image.HotspotY;
  }
  out << '\n';
}

void ListGroupJson(const TIconGroup& group, std::ostream& out) {
  out << "{\"number\": " << group.Index + 1 << ", \"name\": \"" << GroupLabel(group) << "\", \"kind\": \""
      << (group.Cursor ? "cursor" : "icon") << "\", \"resource\": ";
  if (!group.HasResource) out << "null";
  else if (!group.ResourceName.empty()) out << JsonString(group.ResourceName);
  else out << group.ResourceId;
  out << ", \"language\": ";
  if (group.HasLanguage) out << group.Language;
  else out << "null";
  out << ", \"images\": [";
  for (std::size_t i = 0; i < group.Images.size(); ++i) {
    const TIconImage& image = group.Images[i];
    out << (i ? ", " : "") << "{\"width\": " << image.Width << ", \"height\": " << image.Height
        << ", \"bits\": " << image.BitCount << ", \"format\": \"" << FormatName(image) << "\", \"bytes\": " << image.Size;
    if (group.Cursor) out << ", \"hotspot\": {\"x\": " << image.HotspotX << ", \"y\": " << image.HotspotY << "}";
    out << "}";
  }
  out << "]}";
}

// Folders named on the command line that -r could not read: each named, the run failed.
std::vector<TInputName> ListAndTell(const TOptions& o, std::ostream& err, TTally& tally) {
  std::vector<std::string> problems;
  // The output folder, found inside a folder read with -r, is not read: a second run
  // must not take the first one's outputs for inputs.
  const std::string outputs = o.Command == "extract" && o.OutDir != "-" ? o.OutDir : std::string();
  std::vector<TInputName> inputs = ListInputs(o.Paths, o.Recurse, problems, outputs);
  for (const std::string& p : problems) err << Program << ": " << p << '\n';
  if (!problems.empty()) tally.Failed = true;
  tally.Refused += problems.size();  // folders that cannot be read
  return inputs;
}

int List(const TOptions& o, std::ostream& out, std::ostream& err, bool terminal) {
  TTally tally;
  const std::vector<TInputName> inputs = ListAndTell(o, err, tally);
  TProgress progress(err, terminal, inputs.size());
  if (o.Json) out << "[";
  bool firstFile = true;
  for (std::size_t n = 0; n < inputs.size(); ++n) {
    progress.Step(n);
    TInputFile file;
    TIconFile icons;
    std::vector<const TIconGroup*> chosen;
    if (!ReadInput(o, inputs[n], file, icons, chosen, err, progress, tally)) continue;
    if (o.Json) {
      out << (firstFile ? "\n" : ",\n") << "  {\"file\": " << JsonString(inputs[n].Name) << ", \"icons\": [";
      firstFile = false;
    }
    for (std::size_t g = 0; g < chosen.size(); ++g) {
      if (o.Json) {
        out << (g ? ",\n" : "\n") << "    ";
        ListGroupJson(*chosen[g], out);
      } else {
        ListGroupPlain(inputs[n].Name, *chosen[g], out);
      }
    }
    if (o.Json) out << "\n  ]}";
  }
  if (o.Json) out << (firstFile ? "]\n" : "\n]\n");
  out.flush();
  return tally.Failed ? ExitSomeFileFailed : ExitOk;
}

// Where a run's outputs go: files under the output folder, never replacing one an
// earlier file of the run wrote (nor an existing one without --force); or, for "-o -",
// the one output held until the run ends and then written to standard output.
class TOutputs {
 public:
  TOutputs(const TOptions& o, std::ostream& err, TProgress& progress) : FO(o), FErr(err), FProgress(progress) {}
  bool ToStandardOutput() const { return FO.OutDir == "-"; }
  // The output name of an input's files, before "-IconN...".
  std::string Base(const TInputName& input) const {
    return ToStandardOutput() ? input.OutputName : JoinPath(FO.OutDir, input.OutputName);
  }
  bool Write(const std::string& name, std::vector<unsigned char> bytes) {
    std::string problem;
    if (ToStandardOutput()) {
      if (++FHeld == 1) FHeldBytes = std::move(bytes);
      return true;
    }
    const std::string folder = ParentFolder(name);
    if (!FTaken.insert(name).second) {
      problem = "an earlier file of this run was written under this name; not replaced";
    } else if (!FO.Force && PathExists(name)) {
      problem = "exists; not replaced (--force replaces it)";
    } else if (!folder.empty() && FFolders.insert(folder).second && !MakeFolder(folder, problem)) {
      // told below
    } else if (WriteFileAtomically(name, bytes, problem)) {
      return true;
    }
    FProgress.Clear();
    FErr << Program << ": " << name << ": " << problem << '\n';
    return false;
  }
  // For "-o -": writes the output when the run made exactly one.
  bool Finish(std::ostream& out) {
    if (!ToStandardOutput()) return true;
    if (FHeld == 1) {
      out.write(reinterpret_cast<const char*>(FHeldBytes.data()), static_cast<std::streamsize>(FHeldBytes.size()));
      out.flush();
      if (out.good()) return true;
      FErr << Program << ": standard output cannot be written\n";
      return false;
    }
    FErr << Program << ": -o - writes one file, and this run makes " << FHeld
         << " (choose one with --icon, --resource or --size); nothing written\n";
    return false;
  }

 private:
  const TOptions& FO;
  std::ostream& FErr;
  TProgress& FProgress;
  std::set<std::string> FTaken, FFolders;
  std::size_t FHeld = 0;
  std::vector<unsigned char> FHeldBytes;
};

// The name of one PNG of a group: the image's size and depth (and a cursor's hot spot)
// unless --size keeps one image an icon; a second image of the same description gets
// "-2", and so on.
std::string PngName(const TOptions& o, const std::string& stem, const TIconGroup& group, const TIconImage& image,
                    std::set<std::string>& names) {
  std::string name = stem;
  if (!o.HaveSize) {
    name += "-" + std::to_string(image.Width) + "x" + std::to_string(image.Height) + "-" +
            std::to_string(image.BitCount) + "bit";
  }
  if (group.Cursor) name += "-hotspot" + std::to_string(image.HotspotX) + "," + std::to_string(image.HotspotY);
  const std::string first = name;
  for (int copy = 2; names.count(name); ++copy) name = first + "-" + std::to_string(copy);
  names.insert(name);
  return name + ".png";
}

// Writes one group: an .ico (.cur) file, or its PNGs, within the input's budgets.
// False when some output was not written.
bool ExtractGroup(const TOptions& o, const TInputName& input, const TReadAt& readAt, const TIconGroup& group,
                  TOutputBudget& budget, TImageDecoder& decoder, TOutputs& outputs, std::ostream& err,
                  TProgress& progress, TTally& tally) {
  auto fails = [&](const std::string& why) {
    progress.Clear();
    err << Program << ": " << input.Name << ": " << GroupLabel(group) << ": " << why << '\n';
    return false;
  };
  if (group.Images.empty()) return fails("no images (the group names images the file lacks); nothing written");
  const std::string stem = outputs.Base(input) + "-" + GroupLabel(group);
  std::vector<std::size_t> chosen;
  if (o.HaveSize) {
    chosen.push_back(NearestImage(group, o.Size));
  } else {
    for (std::size_t i = 0; i < group.Images.size(); ++i) chosen.push_back(i);
  }
  if (chosen.size() > MaxImagesPerIcon)
    return fails(std::to_string(chosen.size()) + " images, more than any icon holds (" +
                 std::to_string(MaxImagesPerIcon) + "); nothing written");
  if (!o.Png) {
    std::vector<unsigned char> ico;
    std::string why;
    if (!BuildIcoOfImages(readAt, group, chosen, budget, ico, why, group.Cursor ? 2 : 1)) return fails(why);
    if (!outputs.Write(stem + (group.Cursor ? ".cur" : ".ico"), std::move(ico))) return false;
    ++tally.Written;
    return true;
  }
  bool allWritten = true;
  std::set<std::string> names;
  for (std::size_t k : chosen) {
    const TIconImage& image = group.Images[k];
    const std::string name = PngName(o, stem, group, image, names);
    std::vector<unsigned char> png;
    std::string why;
    if (!PngOfImage(readAt, image, decoder, budget, png, why)) {
      fails(std::to_string(image.Width) + "x" + std::to_string(image.Height) + " image: " + why);
      allWritten = false;
      if (budget.Exhausted()) break;  // the rest of this file's images would be refused too
      continue;
    }
    if (outputs.Write(name, std::move(png))) {
      ++tally.Written;
    } else {
      allWritten = false;
    }
  }
  return allWritten;
}

int Extract(const TOptions& o, std::ostream& out, std::ostream& err, bool terminal) {
  std::string problem;
  if (o.OutDir != "-" && !MakeFolder(o.OutDir, problem)) {
    err << Program << ": " << o.OutDir << ": " << problem << '\n';
    return ExitSomeFileFailed;
  }
  TTally tally;
  const std::vector<TInputName> inputs = ListAndTell(o, err, tally);
  TProgress progress(err, terminal, inputs.size());
  TOutputs outputs(o, err, progress);
  for (std::size_t n = 0; n < inputs.size(); ++n) {
    progress.Step(n);
    TInputFile file;
    TIconFile icons;
    std::vector<const TIconGroup*> chosen;
    if (!ReadInput(o, inputs[n], file, icons, chosen, err, progress, tally)) continue;
    const TReadAt readAt = file.Reader();
    TOutputBudget budget(file.StoredBytes());
    TImageDecoder decoder(readAt, budget.Pixels);
    for (const TIconGroup* group : chosen) {
      if (ExtractGroup(o, inputs[n], readAt, *group, budget, decoder, outputs, err, progress, tally)) {
        ++(group->Cursor ? tally.Cursors : tally.Icons);
      } else {
        ++tally.WriteFailures;
        tally.Failed = true;
      }
    }
  }
  progress.Clear();
  if (!outputs.Finish(out)) tally.Failed = true;
  if (!o.Quiet) {
    err << Program << ": " << tally.Files << (tally.Files == 1 ? " file" : " files") << ", " << tally.Icons
        << (tally.Icons == 1 ? " icon" : " icons");
    if (tally.Cursors) err << " and " << tally.Cursors << (tally.Cursors == 1 ? " cursor" : " cursors");
    err << " written (" << tally.Written
        << (tally.Written == 1 ? " file" : " files") << "); " << tally.WithoutIcons << " without icons, "
        << tally.Refused << " refused or unreadable";
    if (tally.WriteFailures) err << ", " << tally.WriteFailures << " icons not written";
    err << '\n';
  }
  return tally.Failed ? ExitSomeFileFailed : ExitOk;
}

// A name ending in .cur or .ani, in any case.
bool IsCursorFileName(const std::string& name) {
  if (name.size() < 4) return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".cur" || end == ".ani";
}

int Thumbnail(const TOptions& o, std::ostream& out, std::ostream& err) {
  const std::string& input = o.Paths[0];
  const std::string& output = o.Paths[1];
  if (ThumbnailLimitsOn) {
    std::string problem;
    if (!LimitThumbnailResources(problem)) err << Program << ": warning: " << problem << '\n';
  }
  TInputFile file;
  TIconFile icons;
  std::vector<const TIconGroup*> chosen;
  TProgress progress(err, false, 0);
  TTally tally;
  // A program's picture is its icon: its cursors are not read (a second walk of its
  // resources that an unattended run need not pay). A .cur or .ani file shows its first
  // cursor.
  TOptions kinds = o;
  kinds.Cursors = IsCursorFileName(input);
  kinds.Icons = !kinds.Cursors;
  // Unless another icon is chosen, only what the first icon needs is judged: a thumbnail
  // costs what that icon costs.
  const bool firstIcon = kinds.Icons && !o.Numbers.Given() && !o.Resource.Given();
  if (!ReadInput(kinds, {input, true, BaseName(input)}, file, icons, chosen, err, progress, tally,
                 firstIcon ? TIconScope::FirstIcon : TIconScope::WholeFile))
    return ExitSomeFileFailed;
  // The first icon (or cursor) chosen.
  const TIconGroup& first = *chosen.front();
  std::vector<unsigned char> png;
  std::string problem;
  if (!MakeThumbnail(first, file.Reader(), o.Size, png, problem)) {
    err << Program << ": " << input << ": " << GroupLabel(first) << ": " << problem << '\n';
    return ExitSomeFileFailed;
  }
  // The PNG is whole in memory before OUT is touched. OUT is written in place, not
  // replaced: a thumbnail service may hold it open and read it through its descriptor.
  if (output == "-") {
    MakeStandardOutputBinary();
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out.flush()) {
      err << Program << ": standard output cannot be written\n";
      return ExitSomeFileFailed;
    }
    return ExitOk;
  }
  if (!WriteFileInPlace(output, png, PngSignatureLength, problem)) {
    err << Program << ": " << output << ": " << problem << '\n';
    return ExitSomeFileFailed;
  }
  return ExitOk;
}

}  // namespace

TOutputBudget::TOutputBudget(std::uint64_t storedBytes)
    : Pixels(ExtractPixelAllowance + ExtractPixelsPerInputByte * storedBytes),
      Bytes(OutputBytesAllowance + OutputBytesPerInputByte * storedBytes),
      Files(OutputFilesAllowance + storedBytes / InputBytesPerOutputFile) {}

bool TOutputBudget::Output(std::uint64_t bytes, std::string& why) {
  if (Files == 0) {
    why = "more output files than this input may give (" + std::to_string(OutputFilesAllowance) + " and one for every " +
          std::to_string(InputBytesPerOutputFile) + " bytes of it); not written";
    return false;
  }
  if (bytes > Bytes) {
    why = "more output than this input may give (" + std::to_string(OutputBytesPerInputByte) +
          " times its size and 1 MB); not written";
    return false;
  }
  --Files;
  Bytes -= bytes;
  return true;
}

TImageDecoder::TImageDecoder(const TReadAt& readAt, std::uint64_t& pixelsLeft) : FReadAt(readAt), FPixelsLeft(pixelsLeft) {}

bool TImageDecoder::Decode(const TIconImage& image, TRgbaImage& out, std::string& problem) {
  out = TRgbaImage();
  const auto place = std::make_pair(image.Offset, image.DecodeBytes);
  const auto failed = FFailed.find(place);
  if (failed != FFailed.end()) {
    problem = failed->second;
    return false;
  }
  // Reading and checking the bytes costs about a quarter of what decoding a pixel does.
  const std::uint64_t cost = std::uint64_t{image.Width} * image.Height + image.DecodeBytes / 4;
  if (cost > FPixelsLeft) {
    problem = "decoding it would pass this file's budget of decoded pixels; not decoded";
    return false;
  }
  FPixelsLeft -= cost;
  std::vector<unsigned char> bytes;
  bool decoded = false;
  if (!ReadImageBytes(FReadAt, image, bytes, true)) {
    problem = image.DecodeBytes > MaxImageBytes ? "the image is larger than any icon image" : "the image cannot be read";
  } else {
    decoded = DecodeIconImage(bytes, out, problem);
  }
  if (!decoded) FFailed.emplace(place, problem);
  return decoded;
}

bool TImageDecoder::Made(const TIconImage& image, std::vector<unsigned char>& png) const {
  if (FMadePlace != std::make_pair(image.Offset, image.Size)) return false;
  png = FMade;
  return true;
}

void TImageDecoder::Keep(const TIconImage& image, const std::vector<unsigned char>& png) {
  FMadePlace = std::make_pair(image.Offset, image.Size);
  FMade = png;
}

bool PngOfImage(const TReadAt& readAt, const TIconImage& image, TImageDecoder& decoder, TOutputBudget& budget,
                std::vector<unsigned char>& png, std::string& why) {
  png.clear();
  if (budget.Files == 0) return budget.Output(0, why);  // says why, before any work
  if (decoder.Made(image, png)) {
    if (budget.Output(png.size(), why)) return true;
    png.clear();
    return false;
  }
  TRgbaImage pixels;
  // A PNG image is written only when the tool's own decoder reads it whole.
  if (!decoder.Decode(image, pixels, why)) return false;
  if (image.Png) {
    if (image.Size > MaxImageBytes) {
      why = "the image is larger than any icon image";
      return false;
    }
    if (!budget.Output(image.Size, why)) return false;
    if (!ReadImageBytes(readAt, image, png)) {
      why = "the image cannot be read";
      return false;
    }
    decoder.Keep(image, png);
    return true;
  }
  const std::uint64_t encoding = EncodeCostPerPixel * pixels.Width * pixels.Height;
  if (encoding > budget.Pixels) {
    why = "encoding it would pass this file's budget of pixels; not written";
    return false;
  }
  budget.Pixels -= encoding;
  png = EncodePng(pixels);
  if (!budget.Output(png.size(), why)) {
    png.clear();
    return false;
  }
  decoder.Keep(image, png);
  return true;
}

bool BuildIcoOfImages(const TReadAt& readAt, const TIconGroup& group, const std::vector<std::size_t>& chosen,
                      TOutputBudget& budget, std::vector<unsigned char>& ico, std::string& why, std::uint16_t type) {
  ico.clear();
  if (chosen.empty()) {
    why = "no images; nothing written";
    return false;
  }
  // An image that several entries name is read, held and written once.
  std::map<std::pair<std::uint64_t, std::uint32_t>, std::vector<unsigned char>> held;
  std::uint64_t total = 6 + 16 * std::uint64_t{chosen.size()};
  for (std::size_t k : chosen) {
    const TIconImage& image = group.Images[k];
    if (image.Size > MaxImageBytes) {
      why = "an image is larger than any icon image; nothing written";
      return false;
    }
    if (held.emplace(std::make_pair(image.Offset, image.Size), std::vector<unsigned char>()).second) total += image.Size;
  }
  if (total > Max32Bytes) {
    why = "the icon file would be larger than its directory can address; nothing written";
    return false;
  }
  if (!budget.Output(total, why)) return false;
  std::vector<const TIconImage*> images;
  std::vector<const std::vector<unsigned char>*> bytes;
  for (std::size_t k : chosen) {
    const TIconImage& image = group.Images[k];
    std::vector<unsigned char>& b = held[std::make_pair(image.Offset, image.Size)];
    if (b.size() != image.Size && !ReadImageBytes(readAt, image, b)) {
      why = "an image cannot be read; nothing written";
      return false;
    }
    images.push_back(&image);
    bytes.push_back(&b);
  }
  ico = BuildIcoFile(images, bytes, type);
  return true;
}

bool MakeThumbnail(const TIconFile& icons, const TReadAt& readAt, std::uint32_t size, std::vector<unsigned char>& png,
                   std::string& problem) {
  png.clear();
  problem = "the icon has no images";
  if (icons.Groups.empty()) return false;
  return MakeThumbnail(icons.Groups.front(), readAt, size, png, problem);
}

bool MakeThumbnail(const TIconGroup& first, const TReadAt& readAt, std::uint32_t size, std::vector<unsigned char>& png,
                   std::string& problem) {
  png.clear();
  problem = "the icon has no images";
  std::uint64_t pixelsLeft = ThumbnailPixels;
  TImageDecoder decoder(readAt, pixelsLeft);
  for (std::size_t i : ThumbnailOrder(first, size)) {
    TRgbaImage pixels;
    if (!decoder.Decode(first.Images[i], pixels, problem)) continue;
    const std::uint32_t side = std::max(pixels.Width, pixels.Height);
    if (side > size) {
      // Reduced to fit, the aspect kept.
      const auto fit = [&](std::uint32_t v) {
        return std::max<std::uint32_t>(1, static_cast<std::uint32_t>((std::uint64_t{v} * size + side / 2) / side));
      };
      pixels = ScaleDown(pixels, fit(pixels.Width), fit(pixels.Height));
    } else if (first.Images[i].Png && ReadImageBytes(readAt, first.Images[i], png, true)) {
      return true;  // a PNG image that fits and decodes goes out as stored, to its end chunk
    }
    png = EncodePng(pixels, 3);
    return true;
  }
  return false;
}

void SetThumbnailLimits(bool on) { ThumbnailLimitsOn = on; }

std::size_t NearestImage(const TIconGroup& group, std::uint32_t size) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < group.Images.size(); ++i) {
    const TIconImage &a = group.Images[i], &b = group.Images[best];
    const auto distance = [size](const TIconImage& image) {
      return Side(image) > size ? Side(image) - size : size - Side(image);
    };
    if (distance(a) != distance(b)) {
      if (distance(a) < distance(b)) best = i;
    } else if (Side(a) != Side(b)) {
      if (Side(a) > Side(b)) best = i;
    } else if (a.BitCount > b.BitCount) {
      best = i;
    }
  }
  return best;
}

std::vector<std::size_t> ThumbnailOrder(const TIconGroup& group, std::uint32_t size) {
  std::vector<std::size_t> order(group.Images.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    const TIconImage &a = group.Images[x], &b = group.Images[y];
    const bool aFits = Side(a) >= size, bFits = Side(b) >= size;
    if (aFits != bFits) return aFits;
    if (Side(a) != Side(b)) return aFits ? Side(a) < Side(b) : Side(a) > Side(b);
    return a.BitCount > b.BitCount;
  });
  return order;
}

std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<std::vector<unsigned char>>& bytes, std::uint16_t type) {
  std::vector<const std::vector<unsigned char>*> pointers;
  for (const auto& b : bytes) pointers.push_back(&b);
  return BuildIcoFile(images, pointers, type);
}

std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<const std::vector<unsigned char>*>& bytes, std::uint16_t type) {
  std::vector<unsigned char> out;
  auto put16 = [&out](std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
  };
  auto put32 = [&](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  put16(0);
  put16(type);
  put16(static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  std::map<const std::vector<unsigned char>*, std::uint32_t> placed;  // the same bytes laid out once
  std::vector<const std::vector<unsigned char>*> order;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const TIconImage& image = *images[i];
    out.push_back(image.EntryWidth);
    out.push_back(image.EntryHeight);
    out.push_back(image.EntryColours);
    out.push_back(image.EntryReserved);
    put16(image.EntryPlanes);
    put16(image.EntryBitCount);
    put32(static_cast<std::uint32_t>(bytes[i]->size()));
    const auto at = placed.emplace(bytes[i], offset);
    put32(at.first->second);
    if (at.second) {
      order.push_back(bytes[i]);
      offset += static_cast<std::uint32_t>(bytes[i]->size());
    }
  }
  for (const auto* b : order) out.insert(out.end(), b->begin(), b->end());
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      static const char hex[] = "0123456789abcdef";
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c < 0x20 || c == 0x7F) {
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 15];
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence is kept; anything else is one replacement character.
    // Lead bytes C2-DF open two bytes, E0-EF three, F0-F4 four; 80-C1 and F5-FF none.
    const std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    bool good = length && i + length <= n;
    std::uint32_t code = length == 4 ? c & 7 : length == 3 ? c & 15 : c & 31;
    for (std::size_t k = 1; good && k < length; ++k) {
      good = (p[i + k] & 0xC0) == 0x80;
      code = code << 6 | (p[i + k] & 0x3F);
    }
    good = good && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
           !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
    if (good) {
      out.append(text, i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out + "\"";
}

bool DecodeIconImage(const std::vector<unsigned char>& bytes, TRgbaImage& out, std::string& problem) {
  if (IsPng(bytes.data(), bytes.size())) return DecodePng(bytes.data(), bytes.size(), out, problem);
  return DecodeBitmapImage(bytes.data(), bytes.size(), out, problem);
}

int RunExportTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  TOptions o;
  const int parsed = ParseCommandLine(argc, argv, o, out, err);
  if (parsed >= 0) return parsed;
  if (o.Quiet) errIsTerminal = false;  // no progress line either
  if (o.Command == "list") return List(o, out, err, errIsTerminal);
  if (o.Command == "extract") return Extract(o, out, err, errIsTerminal);
  return Thumbnail(o, out, err);
}
