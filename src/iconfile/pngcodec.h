// PNG images through zlib: writing straight RGBA, and reading an icon's PNG image back
// to pixels (every colour type, bit depth and interlacing PNG allows), so a large image
// can be reduced for a thumbnail. Portable: no windows.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "iconfile/iconimage.h"

// The image as a PNG file: 8-bit RGBA, each row with the filter that suits it best.
// `level` is zlib's compression level (1 fast ... 9 small).
std::vector<unsigned char> EncodePng(const TRgbaImage& image, int level = 6);

// Whether the bytes begin with the PNG signature.
bool IsPng(const unsigned char* data, std::size_t size);

// Reads a PNG file to straight RGBA. Checks every chunk's CRC and refuses images larger
// than MaxIconSide a side before allocating for them. On failure `problem` says why.
bool DecodePng(const unsigned char* data, std::size_t size, TRgbaImage& out, std::string& problem);
