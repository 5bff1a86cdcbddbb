// glyphdock-export: every icon of PE, NE and .ico files as stored, listed, written as
// .ico or PNG files, or reduced to one thumbnail. The parts the tests call directly are
// declared here; main() only hands over the command line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "iconfile/iconfile.h"
#include "iconfile/iconimage.h"

// Exit statuses.
constexpr int ExitOk = 0;
constexpr int ExitSomeFileFailed = 1;
constexpr int ExitUsage = 2;

// Runs the command line (argv[0] is the program). Results go to `out`, messages and
// progress to `err`; `errIsTerminal` allows the progress line.
int RunExportTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool errIsTerminal);

// The image of a group whose longer side is nearest to `size`: on a tie the larger one
// (reducing looks better than enlarging), then the deeper, then the first.
std::size_t NearestImage(const TIconGroup& group, std::uint32_t size);

// The images of a group in the order a thumbnail of `size` tries them: those at least
// `size` a side, smallest first, then the smaller ones, largest first; deeper first
// among equal sides.
std::vector<std::size_t> ThumbnailOrder(const TIconGroup& group, std::uint32_t size);

// An .ico file (type 1) or .cur file (type 2) of the given images, in order: the
// directory (each entry the group's stored width, height, colours, planes and bit count,
// for a cursor the hot spot in their place, with the image's length and place) followed
// by the images' bytes as stored.
std::vector<unsigned char> BuildIcoFile(const std::vector<const TIconImage*>& images,
                                        const std::vector<std::vector<unsigned char>>& bytes, std::uint16_t type = 1);

// A string as a JSON string literal. Bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

// Decodes one image (bitmap or PNG bytes) to RGBA; false with `problem` when it cannot.
bool DecodeIconImage(const std::vector<unsigned char>& bytes, TRgbaImage& out, std::string& problem);
