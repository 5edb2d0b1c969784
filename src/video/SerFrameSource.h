#pragma once
// A SER video as a frame source: frame times from the trailer of time stamps
// where it is usable, else from a frame rate the user gives; the start from
// the first time stamp or DateTime_UTC.
#include "video/SampleFrameSource.h"
#include "video/SerFile.h"

#include <string>

namespace corvane {

class SerFrameSource : public SampleFrameSource {
public:
    // Throws Error naming the file and what is wrong.
    explicit SerFrameSource(const std::string& path);
    std::string formatName() const override;
    std::vector<std::string> warnings() const override { return file_.warnings(); }
    const SerFile& file() const { return file_; }

protected:
    void readSamples(int64_t n, int y0, int rows, uint16_t* out) const override {
        file_.readRows(n, y0, rows, out);
    }

private:
    SerFile file_;
};

} // namespace corvane
