#pragma once
// Bilinear demosaicing of a Bayer mosaic: every pixel keeps its own colour's
// sample and takes each other colour as the mean of that colour's samples
// among its eight neighbours (two or four of them inside the frame, fewer at
// the edges), rounded half to even. For star centres this is enough: the
// colour planes are only summed into intensities afterwards.
#include <cstdint>

namespace corvane {

// Colours of the top-left 2 x 2 cell, row by row.
enum class BayerPattern { RGGB, GRBG, GBRG, BGGR };

const char* bayerPatternName(BayerPattern p);

// The pattern a window of the mosaic starting at (x0, y0) begins with: an
// odd offset shifts the cell, so rows read from the middle of a frame keep
// their colours.
BayerPattern bayerPatternAt(BayerPattern p, int x0, int y0);

// Demosaics a width x height mosaic (row by row, top-down) whose top-left
// sample has the pattern's first colour into width x height RGB triples.
void demosaic(const uint8_t* mosaic, int width, int height, BayerPattern p, uint8_t* rgb);
void demosaic(const uint16_t* mosaic, int width, int height, BayerPattern p, uint16_t* rgb);

} // namespace corvane
