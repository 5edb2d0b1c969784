#pragma once
// A FITS recording (a cube, one image per HDU, or a sequence of files) as a
// frame source, rows top-down as FitsFile turns them. A cube has no time per
// frame: it has no frame times until the user gives the frame rate.
#include "video/FitsFile.h"
#include "video/SampleFrameSource.h"

#include <string>

namespace corvane {

class FitsFrameSource : public SampleFrameSource {
public:
    // `path` is a FITS file or a folder of them. Throws Error naming the
    // file and what is wrong.
    explicit FitsFrameSource(const std::string& path);
    std::string formatName() const override;
    std::vector<std::string> warnings() const override { return file_.warnings(); }
    const FitsFile& file() const { return file_; }

protected:
    void readSamples(int64_t n, int y0, int rows, uint16_t* out) const override {
        file_.readRows(n, y0, rows, out);
    }
    const std::vector<uint32_t>* missingSamples() const override { return &file_.lastMissing(); }

private:
    FitsFile file_;
};

} // namespace corvane
