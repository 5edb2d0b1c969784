#pragma once
// Hand-made FITS files for the reader tests, written through cfitsio with
// the stored values given as they are (no scaling on the way out), so a test
// controls BITPIX, BZERO/BSCALE, the keywords and the HDU layout exactly.
#include <fitsio.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvane::test {

struct FitsImage {
    int bitpix = 16;
    std::vector<long> axes;     // NAXIS1, NAXIS2, ...; empty for NAXIS = 0
    std::vector<double> stored; // values as stored, first stored row first
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<std::pair<std::string, double>> numbers; // BZERO, BSCALE, DATAMIN, ...
};

// Writes one HDU per image, the first as the primary one.
inline void writeFitsImages(const std::string& path, const std::vector<FitsImage>& images) {
    std::remove(path.c_str());
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, path.c_str(), &status);
    for (const FitsImage& im : images) {
        std::vector<long> axes = im.axes;
        fits_create_img(f, im.bitpix, static_cast<int>(axes.size()), axes.data(), &status);
        for (const auto& [key, value] : im.texts)
            fits_update_key(f, TSTRING, key.c_str(), const_cast<char*>(value.c_str()), nullptr,
                            &status);
        for (const auto& [key, value] : im.numbers) {
            double v = value;
            fits_update_key(f, TDOUBLE, key.c_str(), &v, nullptr, &status);
        }
        if (!im.stored.empty()) {
            // Store the values as given, whatever BZERO and BSCALE say.
            fits_set_bscale(f, 1.0, 0.0, &status);
            std::vector<double> values = im.stored;
            fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), values.data(),
                           &status);
        }
    }
    fits_close_file(f, &status);
    if (status != 0) {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status, text);
        throw std::runtime_error("cannot write the test FITS file " + path + ": " + text);
    }
}

// A w x h frame of stored value `level` with DATE-OBS `date` (unless empty).
inline FitsImage flatFrame(int w, int h, double level, const std::string& date, int bitpix = 8) {
    FitsImage im;
    im.bitpix = bitpix;
    im.axes = {w, h};
    im.stored.assign(static_cast<std::size_t>(w * h), level);
    if (!date.empty())
        im.texts.push_back({"DATE-OBS", date});
    return im;
}

} // namespace corvane::test
