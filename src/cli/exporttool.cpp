#include "cli/exporttool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "cli/exportfiles.h"
#include "iconfile/pngcodec.h"

#ifndef GLYPHDOCK_VERSION
#error "GLYPHDOCK_VERSION comes from the build: the version resource's ProductVersion"
#endif

namespace {

const char Program[] = "glyphdock-export";
// The eight bytes every PNG begins with.
constexpr std::size_t PngSignatureLength = 8;

const char Help[] =
    "Usage: glyphdock-export list [--json] [-r] PATH...\n"
    "       glyphdock-export extract [-r] [--png] [--size N] [--force] -o DIR PATH...\n"
    "       glyphdock-export thumbnail FILE OUT.png|- SIZE\n"
    "\n"
    "Reads the icons of Windows programs and libraries (PE and NE files) and of .ico files,\n"
    "numbered Icon1, Icon2, ... as Glyphdock numbers them.\n"
    "\n"
    "  list       one line an icon: file, IconN, then each image's size, depth and format\n"
    "  extract    each icon as an .ico file with all its images exactly as stored,\n"
    "             named FILE-IconN.ico after the input file's name\n"
    "  thumbnail  the first icon's image that best fits SIZE, as a PNG no larger than SIZE,\n"
    "             written into OUT.png itself (- for standard output)\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR  where extract writes (made when missing)\n"
    "      --png         one PNG a image instead (FILE-IconN-WxH-Bbit.png); bitmap images\n"
    "                    are decoded, PNG images copied as stored\n"
    "      --size N      only the image nearest to N pixels a side, per icon\n"
    "                    (then named FILE-IconN.ico or FILE-IconN.png)\n"
    "  -r, --recursive   read folders, every level down\n"
    "  -f, --force       replace files that exist\n"
    "      --json        list as JSON\n"
    "  -h, --help        this text\n"
    "      --version     the version\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when some file could not be read, was\n"
    "refused, held no icons (files inside folders may hold none) or could not be written,\n"
    "2 for a mistake on the command line.\n";

struct TOptions {
  std::string Command;
  std::vector<std::string> Paths;
  std::string OutDir;
  bool Png = false, Recurse = false, Force = false, Json = false, HaveSize = false;
  std::uint32_t Size = 0;
};

constexpr std::uint32_t MaxRequestedSize = 4096;

bool ParseSize(const std::string& text, std::uint32_t& size) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (v < 1 || v > MaxRequestedSize) return false;
  size = static_cast<std::uint32_t>(v);
  return true;
}

// A usage mistake: the message and a pointer to --help, status 2.
int UsageError(std::ostream& err, const std::string& message) {
  err << Program << ": " << message << "\nTry '" << Program << " --help'.\n";
  return ExitUsage;
}

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
  std::size_t Files = 0, Icons = 0, Written = 0, WithoutIcons = 0, Refused = 0, WriteFailures = 0;
  bool Failed = false;
};

// One input file read through the icon-file reader. False (with a message) when it
// cannot be read, is refused or holds no icons.
bool ReadInput(const TInputName& input, TInputFile& file, TIconFile& icons, std::ostream& err, TProgress& progress,
               TTally& tally, TIconScope scope = TIconScope::WholeFile) {
  std::string problem;
  ++tally.Files;
  if (!file.Open(input.Name, problem)) {
    progress.Clear();
    err << Program << ": " << input.Name << ": " << problem << '\n';
    ++tally.Refused;
    tally.Failed = true;
    return false;
  }
  icons = ReadIconFile(file.Size(), file.Reader(), scope);
  if (!icons.Sound) {
    progress.Clear();
    err << Program << ": " << input.Name << ": refused: " << (icons.Problem.empty() ? "unsound" : icons.Problem) << '\n';
    ++tally.Refused;
    tally.Failed = true;
    return false;
  }
  // An image the reader found unsound (in an .ico file, one the shell never picks, e.g.
  // cut short by the end of the file) is left out; the icon keeps its number and its
  // other images.
  for (TIconGroup& group : icons.Groups)
    group.Images.erase(std::remove_if(group.Images.begin(), group.Images.end(),
                                      [](const TIconImage& image) { return !image.Sound; }),
                       group.Images.end());
  if (icons.Groups.empty()) {
    progress.Clear();
    err << Program << ": " << input.Name << ": no icons\n";
    ++tally.WithoutIcons;
    if (input.Named) tally.Failed = true;
    return false;
  }
  return true;
}

int List(const TOptions& o, std::ostream& out, std::ostream& err, bool terminal) {
  std::vector<std::string> problems;
  const std::vector<TInputName> inputs = ListInputs(o.Paths, o.Recurse, problems);
  TTally tally;
  for (const std::string& p : problems) err << Program << ": " << p << '\n';
  if (!problems.empty()) tally.Failed = true;
  tally.Refused += problems.size();  // folders that cannot be read
  TProgress progress(err, terminal, inputs.size());
  if (o.Json) out << "[";
  bool firstFile = true;
  for (std::size_t n = 0; n < inputs.size(); ++n) {
    progress.Step(n);
    TInputFile file;
    TIconFile icons;
    if (!ReadInput(inputs[n], file, icons, err, progress, tally)) continue;
    if (o.Json) {
      out << (firstFile ? "\n" : ",\n") << "  {\"file\": " << JsonString(inputs[n].Name) << ", \"icons\": [";
      firstFile = false;
    }
    for (std::size_t g = 0; g < icons.Groups.size(); ++g) {
      const TIconGroup& group = icons.Groups[g];
      if (o.Json) {
        out << (g ? ",\n" : "\n") << "    {\"number\": " << group.Index + 1 << ", \"name\": \"Icon" << group.Index + 1
            << "\", \"images\": [";
      } else {
        out << PlainName(inputs[n].Name) << "\tIcon" << group.Index + 1;
      }
      for (std::size_t i = 0; i < group.Images.size(); ++i) {
        const TIconImage& image = group.Images[i];
        if (o.Json) {
          out << (i ? ", " : "") << "{\"width\": " << image.Width << ", \"height\": " << image.Height
              << ", \"bits\": " << image.BitCount << ", \"format\": \"" << FormatName(image)
              << "\", \"bytes\": " << image.Size << "}";
        } else {
          out << '\t' << image.Width << 'x' << image.Height << ' ' << image.BitCount << "-bit " << FormatName(image);
        }
      }
      out << (o.Json ? "]}" : "\n");
    }
    if (o.Json) out << "\n  ]}";
  }
  if (o.Json) out << (firstFile ? "]\n" : "\n]\n");
  out.flush();
  return tally.Failed ? ExitSomeFileFailed : ExitOk;
}

// Writes one output file unless it exists (without --force) or an earlier file of this
// run already took the name.
bool WriteOutput(const TOptions& o, const std::string& name, const std::vector<unsigned char>& bytes,
                 std::set<std::string>& taken, std::ostream& err, TProgress& progress) {
  std::string problem;
  if (!taken.insert(name).second) {
    problem = "an earlier file of this run was written under this name; not replaced";
  } else if (!o.Force && PathExists(name)) {
    problem = "exists; not replaced (--force replaces it)";
  } else if (WriteFileAtomically(name, bytes, problem)) {
    return true;
  }
  progress.Clear();
  err << Program << ": " << name << ": " << problem << '\n';
  return false;
}

int Extract(const TOptions& o, std::ostream& err, bool terminal) {
  std::string problem;
  if (!MakeFolder(o.OutDir, problem)) {
    err << Program << ": " << o.OutDir << ": " << problem << '\n';
    return ExitSomeFileFailed;
  }
  std::vector<std::string> problems;
  const std::vector<TInputName> inputs = ListInputs(o.Paths, o.Recurse, problems);
  TTally tally;
  for (const std::string& p : problems) err << Program << ": " << p << '\n';
  if (!problems.empty()) tally.Failed = true;
  tally.Refused += problems.size();  // folders that cannot be read
  TProgress progress(err, terminal, inputs.size());
  std::set<std::string> taken;
  for (std::size_t n = 0; n < inputs.size(); ++n) {
    progress.Step(n);
    TInputFile file;
    TIconFile icons;
    if (!ReadInput(inputs[n], file, icons, err, progress, tally)) continue;
    const std::string base = JoinPath(o.OutDir, BaseName(inputs[n].Name));
    const TReadAt readAt = file.Reader();
    TOutputBudget budget(file.StoredBytes());
    TImageDecoder decoder(readAt, budget.Pixels);
    auto iconFails = [&](const TIconGroup& group, const std::string& why) {
      progress.Clear();
      err << Program << ": " << inputs[n].Name << ": Icon" << group.Index + 1 << ": " << why << '\n';
      ++tally.WriteFailures;
      tally.Failed = true;
    };
    for (const TIconGroup& group : icons.Groups) {
      const std::string number = "-Icon" + std::to_string(group.Index + 1);
      if (group.Images.empty()) {
        iconFails(group, "no images (the icon names images the file lacks); nothing written");
        continue;
      }
      std::vector<std::size_t> chosen;
      if (o.HaveSize) {
        chosen.push_back(NearestImage(group, o.Size));
      } else {
        for (std::size_t i = 0; i < group.Images.size(); ++i) chosen.push_back(i);
      }
      if (chosen.size() > MaxImagesPerIcon) {
        iconFails(group, std::to_string(chosen.size()) + " images, more than any icon holds (" +
                             std::to_string(MaxImagesPerIcon) + "); nothing written");
        continue;
      }
      bool allWritten = true;
      if (!o.Png) {
        std::vector<unsigned char> ico;
        std::string why;
        if (!BuildIcoOfImages(readAt, group, chosen, budget, ico, why)) {
          iconFails(group, why);
          continue;
        }
        allWritten = WriteOutput(o, base + number + ".ico", ico, taken, err, progress);
        if (allWritten) ++tally.Written;
      } else {
        std::map<std::string, int> copies;  // the images of one size and depth so far
        for (std::size_t k : chosen) {
          const TIconImage& image = group.Images[k];
          std::string name = base + number;
          if (!o.HaveSize) {
            const std::string stem = name + "-" + std::to_string(image.Width) + "x" + std::to_string(image.Height) + "-" +
                                     std::to_string(image.BitCount) + "bit";
            const int copy = ++copies[stem];
            name = copy == 1 ? stem : stem + "-" + std::to_string(copy);
          }
          name += ".png";
          std::vector<unsigned char> png;
          std::string why;
          if (!PngOfImage(readAt, image, decoder, budget, png, why)) {
            progress.Clear();
            err << Program << ": " << inputs[n].Name << ": Icon" << group.Index + 1 << ": " << image.Width << "x"
                << image.Height << " image: " << why << '\n';
            allWritten = false;
            if (budget.Exhausted()) break;  // the rest of this file's images would be refused too
            continue;
          }
          if (WriteOutput(o, name, png, taken, err, progress)) {
            ++tally.Written;
          } else {
            allWritten = false;
          }
        }
      }
      if (allWritten) {
        ++tally.Icons;
      } else {
        ++tally.WriteFailures;
        tally.Failed = true;
      }
    }
  }
  progress.Clear();
  err << Program << ": " << tally.Files << (tally.Files == 1 ? " file" : " files") << ", " << tally.Icons
      << (tally.Icons == 1 ? " icon" : " icons") << " written (" << tally.Written
      << (tally.Written == 1 ? " file" : " files") << "); " << tally.WithoutIcons << " without icons, " << tally.Refused
      << " refused or unreadable";
  if (tally.WriteFailures) err << ", " << tally.WriteFailures << " icons not written";
  err << '\n';
  return tally.Failed ? ExitSomeFileFailed : ExitOk;
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
  TProgress progress(err, false, 0);
  TTally tally;
  // Only what the first icon needs is judged: a thumbnail costs what that icon costs.
  if (!ReadInput({input, true}, file, icons, err, progress, tally, TIconScope::FirstIcon)) return ExitSomeFileFailed;
  std::vector<unsigned char> png;
  std::string problem;
  if (!MakeThumbnail(icons, file.Reader(), o.Size, png, problem)) {
    err << Program << ": " << input << ": Icon1: " << problem << '\n';
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
                      TOutputBudget& budget, std::vector<unsigned char>& ico, std::string& why) {
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
  ico = BuildIcoFile(images, bytes);
  return true;
}

bool MakeThumbnail(const TIconFile& icons, const TReadAt& readAt, std::uint32_t size, std::vector<unsigned char>& png,
                   std::string& problem) {
  png.clear();
  problem = "the icon has no images";
  if (icons.Groups.empty()) return false;
  const TIconGroup& first = icons.Groups.front();
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
                                        const std::vector<std::vector<unsigned char>>& bytes) {
  std::vector<const std::vector<unsigned char>*> pointers;
  for (const auto& b : bytes) pointers.push_back(&b);
  return BuildIcoFile(images, pointers);
}

std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<const std::vector<unsigned char>*>& bytes) {
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
  put16(1);
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
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const std::string& option, std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      (void)option;
      return true;
    };
    if (optionsEnd || a.empty() || a[0] != '-' || a == "-") {
      if (o.Command.empty()) {
        o.Command = a;
      } else {
        o.Paths.push_back(a);
      }
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
    } else if (a == "-h" || a == "--help") {
      out << Help;
      return ExitOk;
    } else if (a == "--version") {
      out << Program << ' ' << GLYPHDOCK_VERSION << '\n';
      return ExitOk;
    } else if (a == "--json") {
      o.Json = true;
    } else if (a == "--png") {
      o.Png = true;
    } else if (a == "-r" || a == "--recursive") {
      o.Recurse = true;
    } else if (a == "-f" || a == "--force") {
      o.Force = true;
    } else if (a == "-o" || a == "--output" || a.rfind("--output=", 0) == 0) {
      if (a.size() > 8 && a[8] == '=') {
        o.OutDir = a.substr(9);
      } else if (!value(a, o.OutDir)) {
        return UsageError(err, "option " + a + " needs a folder");
      }
      if (o.OutDir.empty()) return UsageError(err, "option " + a + " needs a folder");
    } else if (a == "--size" || a.rfind("--size=", 0) == 0) {
      std::string text;
      if (a.size() > 6 && a[6] == '=') {
        text = a.substr(7);
      } else if (!value(a, text)) {
        return UsageError(err, "option --size needs a number");
      }
      if (!ParseSize(text, o.Size)) return UsageError(err, "--size takes a number from 1 to 4096, not '" + text + "'");
      o.HaveSize = true;
    } else {
      return UsageError(err, "unknown option '" + a + "'");
    }
  }
  if (o.Command.empty()) return UsageError(err, "no command given (list, extract or thumbnail)");
  if (o.Command == "list") {
    if (o.Paths.empty()) return UsageError(err, "list: no file given");
    if (o.Png || o.HaveSize || o.Force || !o.OutDir.empty()) return UsageError(err, "list takes only --json and -r");
    return List(o, out, err, errIsTerminal);
  }
  if (o.Command == "extract") {
    if (o.Paths.empty()) return UsageError(err, "extract: no file given");
    if (o.OutDir.empty()) return UsageError(err, "extract: no output folder given (-o DIR)");
    if (o.Json) return UsageError(err, "extract does not take --json");
    return Extract(o, err, errIsTerminal);
  }
  if (o.Command == "thumbnail") {
    if (o.Paths.size() != 3) return UsageError(err, "thumbnail takes FILE OUT.png SIZE");
    if (o.Png || o.HaveSize || o.Force || o.Json || o.Recurse || !o.OutDir.empty())
      return UsageError(err, "thumbnail takes no options");
    if (!ParseSize(o.Paths[2], o.Size)) return UsageError(err, "thumbnail: SIZE is a number from 1 to 4096, not '" + o.Paths[2] + "'");
    return Thumbnail(o, out, err);
  }
  return UsageError(err, "unknown command '" + o.Command + "' (list, extract or thumbnail)");
}
