#include "video/FitsFile.h"

#include "common/Error.h"
#include "common/FileError.h"
#include "video/UtcTime.h"

#include <fitsio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace corvane {

namespace fs = std::filesystem;

// What one image HDU's header says.
struct FitsImageInfo {
    int bitpix = 0;
    int naxis = 0;
    LONGLONG naxes[3] = {1, 1, 1};
    double bzero = 0;
    double bscale = 1;
    std::optional<int64_t> dateObs;
    bool dateObsGiven = false;
    std::string rowOrder;
    std::string bayerPattern; // BAYERPAT, upper case
    std::optional<double> bayerOffsetX, bayerOffsetY;
    std::optional<double> dataMin, dataMax;
    LONGLONG dataStart = 0;
};

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw Error(what + ": " + path);
}

std::string cfitsioText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return text;
}

// Rows read at a time as physical values, so that a large floating-point
// frame never needs a copy of itself in doubles (8192 rows of 8192 would
// take 512 MB).
constexpr int kRowsPerRead = 256;

// How stored values become the samples the reader gives.
enum class Mapping { Bytes, Unsigned16, Scaled };

std::optional<std::string> stringKey(fitsfile* f, const char* key) {
    char value[FLEN_VALUE] = {};
    int status = 0;
    if (fits_read_key(f, TSTRING, key, value, nullptr, &status) != 0) {
        fits_clear_errmsg();
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<double> numberKey(fitsfile* f, const char* key) {
    double value = 0;
    int status = 0;
    if (fits_read_key(f, TDOUBLE, key, &value, nullptr, &status) != 0 || !std::isfinite(value)) {
        fits_clear_errmsg();
        return std::nullopt;
    }
    return value;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// DATE-OBS, with a separate TIME-OBS where the date holds no time (the older
// convention).
std::optional<int64_t> dateObsOf(fitsfile* f, bool& given) {
    const std::optional<std::string> date = stringKey(f, "DATE-OBS");
    given = date.has_value();
    if (!date)
        return std::nullopt;
    std::string text = *date;
    if (text.size() == 10)
        if (const std::optional<std::string> time = stringKey(f, "TIME-OBS"))
            text += "T" + *time;
    return parseIsoTime(text);
}

FitsImageInfo infoOf(fitsfile* f, const std::string& path) {
    FitsImageInfo info;
    int status = 0;
    LONGLONG axes[3] = {1, 1, 1};
    if (fits_get_img_paramll(f, 3, &info.bitpix, &info.naxis, axes, &status) != 0)
        fail("The FITS image header cannot be read (" + cfitsioText(status) + ")", path);
    for (int i = 0; i < 3; ++i)
        info.naxes[i] = axes[i];
    info.bzero = numberKey(f, "BZERO").value_or(0.0);
    info.bscale = numberKey(f, "BSCALE").value_or(1.0);
    info.dateObs = dateObsOf(f, info.dateObsGiven);
    info.rowOrder = upper(stringKey(f, "ROWORDER").value_or(""));
    info.bayerPattern = upper(stringKey(f, "BAYERPAT").value_or(""));
    info.bayerOffsetX = numberKey(f, "XBAYROFF");
    info.bayerOffsetY = numberKey(f, "YBAYROFF");
    info.dataMin = numberKey(f, "DATAMIN");
    info.dataMax = numberKey(f, "DATAMAX");
    LONGLONG headStart = 0, dataEnd = 0;
    if (fits_get_hduaddrll(f, &headStart, &info.dataStart, &dataEnd, &status) != 0)
        fail("The FITS file's structure cannot be read (" + cfitsioText(status) + ")", path);
    return info;
}

// Only NAXIS 2 (a frame) and 3 (a cube) are pictures Corvane can measure.
void checkAxes(const FitsImageInfo& info, const std::string& path) {
    if (info.naxis != 2 && info.naxis != 3)
        fail("The FITS image has NAXIS = " + std::to_string(info.naxis) +
                 "; Corvane reads 2 (one frame) or 3 (a cube of frames)",
             path);
    const char* names[] = {"NAXIS1", "NAXIS2", "NAXIS3"};
    for (int i = 0; i < 2; ++i)
        if (info.naxes[i] < 1 || info.naxes[i] > FitsFile::kMaxSide)
            fail("The FITS header's " + std::string(names[i]) + " is " +
                     std::to_string(info.naxes[i]) + " (1 to " +
                     std::to_string(FitsFile::kMaxSide) + " allowed)",
                 path);
    if (info.naxis == 3 && (info.naxes[2] < 1 || info.naxes[2] > FitsFile::kMaxFrames))
        fail("The FITS header's NAXIS3 is " + std::to_string(info.naxes[2]) + " (1 to " +
                 std::to_string(FitsFile::kMaxFrames) + " frames allowed)",
             path);
    const int b = info.bitpix;
    if (b != 8 && b != 16 && b != 32 && b != -32 && b != -64)
        fail("The FITS header's BITPIX is " + std::to_string(b) +
                 " (8, 16, 32, -32 or -64 allowed)",
             path);
    if (!(info.bscale != 0))
        fail("The FITS header's BSCALE is 0", path);
}

// Bytes of the stored planes of an image whose axes checkAxes passed.
uint64_t planeBytes(const FitsImageInfo& info) {
    return static_cast<uint64_t>(info.naxes[0]) * static_cast<uint64_t>(info.naxes[1]) *
           static_cast<uint64_t>(std::abs(info.bitpix) / 8);
}

// Whether the file holds the whole picture of a one-frame image.
bool framePresent(const FitsImageInfo& info, uint64_t fileSize) {
    return static_cast<uint64_t>(info.dataStart) + planeBytes(info) <= fileSize;
}

void checkFramePresent(const FitsImageInfo& info, uint64_t fileSize, const std::string& path) {
    if (!framePresent(info, fileSize))
        fail("The FITS image is truncated (the file has " + std::to_string(fileSize) +
                 " bytes, the image ends at byte " +
                 std::to_string(static_cast<uint64_t>(info.dataStart) + planeBytes(info)) + ")",
             path);
}

uint64_t sizeOf(const std::string& path) {
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

Mapping mappingOf(const FitsImageInfo& info) {
    if (info.bitpix == 8 && info.bzero == 0 && info.bscale == 1)
        return Mapping::Bytes;
    if (info.bitpix == 16 && info.bzero == 32768 && info.bscale == 1)
        return Mapping::Unsigned16;
    return Mapping::Scaled;
}

bool isFitsName(const fs::path& p) {
    const std::string ext = upper(p.extension().string());
    return ext == ".FITS" || ext == ".FIT" || ext == ".FTS";
}

// The name before the trailing number: "a258_f" of "a258_f0001.fit".
std::string numberedStem(const fs::path& p, bool& numbered) {
    std::string stem = p.stem().string();
    const std::size_t end = stem.size();
    while (!stem.empty() && std::isdigit(static_cast<unsigned char>(stem.back())))
        stem.pop_back();
    numbered = stem.size() < end;
    return stem;
}

// A file of a sequence may keep its picture in an extension behind an empty
// primary HDU; the first few HDUs are looked at.
int firstImageHdu(fitsfile* f, const std::string& path) {
    constexpr int kHdusLookedAt = 8;
    for (int hdu = 1; hdu <= kHdusLookedAt; ++hdu) {
        int status = 0, type = 0, naxis = 0;
        if (fits_movabs_hdu(f, hdu, &type, &status) != 0) {
            if (hdu == 1)
                fail("Not a FITS file (" + cfitsioText(status) + ")", path);
            break;
        }
        if (type == IMAGE_HDU && fits_get_img_dim(f, &naxis, &status) == 0 && naxis > 0)
            return hdu;
        fits_clear_errmsg();
    }
    fail("The FITS file holds no image", path);
}

// The files of the sequence a picked single frame belongs to: those beside
// it with the same name before a trailing number and the same extension;
// the file alone when its name ends in no number.
std::vector<std::string> sequenceOf(const std::string& first) {
    std::error_code ec;
    bool numbered = false;
    const fs::path picked(first);
    const std::string stem = numberedStem(picked, numbered);
    if (numbered) {
        std::vector<std::string> sequence;
        const fs::path folder = picked.has_parent_path() ? picked.parent_path() : fs::path(".");
        for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
            bool n = false;
            if (e.is_regular_file(ec) &&
                upper(e.path().extension().string()) == upper(picked.extension().string()) &&
                numberedStem(e.path(), n) == stem && n)
                sequence.push_back(e.path().string());
        }
        return sequence;
    }
    return {first};
}

struct Handle {
    fitsfile* file = nullptr;
    std::string path;
};

} // namespace

struct FitsFile::Impl {
    Mapping mapping = Mapping::Bytes;
    double lo = 0, hi = 65535; // physical range mapped to 0 .. 65535 (Scaled)
    // Cube: frames are planes of `cubeHdu` in paths[0]; ImagePerHdu: frame n
    // is HDU hdus[n] of paths[0]; Sequence: frame n is HDU hdus[n] of paths[n].
    std::vector<std::string> paths;
    int cubeHdu = 1;
    int64_t cubeFrames = 0;
    std::vector<int> hdus;
    mutable Handle open;

    ~Impl() { closeFile(); }

    void closeFile() const {
        if (open.file) {
            int status = 0;
            fits_close_file(open.file, &status);
            open.file = nullptr;
        }
    }

    fitsfile* fileFor(const std::string& path) const {
        if (open.file && open.path == path)
            return open.file;
        closeFile();
        int status = 0;
        // The disk-file form: no extended file-name syntax, so a name with
        // brackets or a leading '!' is just a name.
        if (fits_open_diskfile(&open.file, path.c_str(), READONLY, &status) != 0) {
            open.file = nullptr;
            char start[10] = {};
            std::ifstream in(path, std::ios::binary);
            if (!in)
                throw Error(fileErrorMessage(errno ? errno : EACCES, "open", path));
            in.read(start, 9);
            if (std::string(start) != "SIMPLE  =")
                fail("Not a FITS file (it does not start with \"SIMPLE  =\")", path);
            fail("The FITS file cannot be opened (" + cfitsioText(status) + ")", path);
        }
        open.path = path;
        return open.file;
    }

    void moveTo(fitsfile* f, int hdu, const std::string& path) const {
        int status = 0, type = 0;
        if (fits_movabs_hdu(f, hdu, &type, &status) != 0)
            fail("HDU " + std::to_string(hdu) + " of the FITS file cannot be read (" +
                     cfitsioText(status) + ")",
                 path);
    }
};

FitsFile::FitsFile(const std::string& path)
    : impl_(std::make_unique<Impl>()), clock_("FITS recording", path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (path.empty() || !fs::exists(status))
        fail("File not found", path);
    if (!fs::is_directory(status) && !fs::is_regular_file(status))
        fail("not a regular file", path);
    std::vector<fs::path> candidates;
    bool pickedOne = false;
    if (fs::is_directory(status)) {
        for (const fs::directory_entry& e : fs::directory_iterator(path, ec))
            if (e.is_regular_file(ec) && isFitsName(e.path()))
                candidates.push_back(e.path());
        if (candidates.empty())
            fail("The folder holds no FITS files (*.fits, *.fit, *.fts)", path);
    } else {
        pickedOne = true;
        candidates.push_back(path);
    }

    std::vector<std::string> files;
    for (const fs::path& c : candidates)
        files.push_back(c.string());
    FitsImageInfo info;
    if (pickedOne)
        info = openFile(path, files);
    else
        layout_ = FitsLayout::Sequence;
    if (layout_ == FitsLayout::Sequence)
        info = openSequence(files, path);
    else
        impl_->paths = {path};
    adopt(info);
    if (impl_->mapping == Mapping::Scaled)
        chooseScaling(info);
    clock_.setFrameCount(frameCount());
}

// Opens one picked file: a cube, one image per HDU, or a single frame, in
// which case `sequence` gets the files of the sequence it belongs to.
FitsImageInfo FitsFile::openFile(const std::string& first, std::vector<std::string>& sequence) {
    fitsfile* f = impl_->fileFor(first);
    FitsImageInfo info;
    // Find the image HDUs: the primary one may be empty (NAXIS = 0) with
    // the pictures in extensions.
    std::vector<int> images;
    std::vector<FitsImageInfo> infos;
    for (int hdu = 1; hdu <= kMaxFrames + 1; ++hdu) {
        int st = 0, type = 0;
        if (fits_movabs_hdu(f, hdu, &type, &st) != 0) {
            fits_clear_errmsg();
            if (hdu == 1)
                fail("Not a FITS file (" + cfitsioText(st) + ")", first);
            if (st != END_OF_FILE)
                warnings_.push_back("HDU " + std::to_string(hdu) + " and after cannot be read (" +
                                    cfitsioText(st) + "); the HDUs before it are used");
            break;
        }
        if (type != IMAGE_HDU)
            continue;
        FitsImageInfo i = infoOf(f, first);
        if (i.naxis == 0)
            continue;
        images.push_back(hdu);
        infos.push_back(i);
    }
    if (images.empty())
        fail("The FITS file holds no image", first);
    info = infos.front();
    checkAxes(info, first);
    if (info.naxis == 3) {
        layout_ = FitsLayout::Cube;
        impl_->cubeHdu = images.front();
        impl_->cubeFrames = info.naxes[2];
        if (images.size() > 1)
            warnings_.push_back("Only the first image (a cube) of the FITS file is read");
    } else if (images.size() > 1) {
        takeImagesPerHdu(first, images, infos);
    } else {
        // One frame: the sequence it belongs to, if its name is numbered.
        sequence = sequenceOf(first);
        layout_ = FitsLayout::Sequence;
    }
    return info;
}

// One two-dimensional image per HDU, all of one size and BITPIX; a last
// image cut short is left out.
void FitsFile::takeImagesPerHdu(const std::string& first, std::vector<int> images,
                                std::vector<FitsImageInfo> infos) {
    const FitsImageInfo info = infos.front();
    layout_ = FitsLayout::ImagePerHdu;
    const uint64_t fileSize = sizeOf(first);
    for (std::size_t k = 0; k < images.size(); ++k) {
        checkAxes(infos[k], first);
        if (k > 0 && !framePresent(infos[k], fileSize)) {
            warnings_.push_back("The image of HDU " + std::to_string(images[k]) +
                                " is truncated; the " + std::to_string(k) +
                                " images before it are used");
            images.resize(k);
            infos.resize(k);
            break;
        }
        checkFramePresent(infos[k], fileSize, first);
        if (infos[k].naxis != 2 || infos[k].naxes[0] != info.naxes[0] ||
            infos[k].naxes[1] != info.naxes[1] || infos[k].bitpix != info.bitpix)
            fail("The FITS file's images differ: HDU " + std::to_string(images[k]) + " is " +
                     std::to_string(infos[k].naxes[0]) + " x " + std::to_string(infos[k].naxes[1]) +
                     " with BITPIX " + std::to_string(infos[k].bitpix) + ", the first " +
                     std::to_string(info.naxes[0]) + " x " + std::to_string(info.naxes[1]) +
                     " with BITPIX " + std::to_string(info.bitpix),
                 first);
    }
    impl_->hdus = images;
    bool allTimed = true;
    for (const FitsImageInfo& i : infos)
        allTimed = allTimed && i.dateObs.has_value();
    if (allTimed) {
        std::vector<int64_t> stamps;
        for (const FitsImageInfo& i : infos)
            stamps.push_back(*i.dateObs);
        clock_.setStamps(std::move(stamps));
    } else
        warnings_.push_back("Not every image of the FITS file has a DATE-OBS; frame "
                            "times come from the frame rate");
}

// Opens the single-frame files of a sequence and orders them by DATE-OBS.
FitsImageInfo FitsFile::openSequence(std::vector<std::string> files, const std::string& path) {
    if (static_cast<int64_t>(files.size()) > kMaxFrames)
        fail("The folder holds more than " + std::to_string(kMaxFrames) + " FITS files", path);
    std::sort(files.begin(), files.end());
    struct Member {
        std::string path;
        int hdu;
        std::optional<int64_t> time;
    };
    std::vector<Member> members;
    FitsImageInfo firstInfo;
    for (const std::string& p : files) {
        fitsfile* g = impl_->fileFor(p);
        const int hdu = firstImageHdu(g, p);
        FitsImageInfo i = infoOf(g, p);
        checkAxes(i, p);
        checkFramePresent(i, sizeOf(p), p);
        if (i.naxis != 2 && !(i.naxis == 3 && i.naxes[2] == 1))
            fail("The FITS file in the sequence holds " + std::to_string(i.naxes[2]) +
                     " frames, not one",
                 p);
        if (members.empty()) {
            firstInfo = i;
        } else if (i.naxes[0] != firstInfo.naxes[0] || i.naxes[1] != firstInfo.naxes[1] ||
                   i.bitpix != firstInfo.bitpix) {
            fail("The FITS files of the sequence differ in size: this one is " +
                     std::to_string(i.naxes[0]) + " x " + std::to_string(i.naxes[1]) +
                     " with BITPIX " + std::to_string(i.bitpix) + ", " + members[0].path + " is " +
                     std::to_string(firstInfo.naxes[0]) + " x " +
                     std::to_string(firstInfo.naxes[1]) + " with BITPIX " +
                     std::to_string(firstInfo.bitpix),
                 p);
        }
        members.push_back({p, hdu, i.dateObs});
    }
    const bool allTimed = std::all_of(members.begin(), members.end(),
                                      [](const Member& m) { return m.time.has_value(); });
    if (allTimed) {
        std::stable_sort(members.begin(), members.end(),
                         [](const Member& a, const Member& b) { return *a.time < *b.time; });
        std::vector<int64_t> stamps;
        for (const Member& m : members)
            stamps.push_back(*m.time);
        if (members.size() > 1)
            clock_.setStamps(std::move(stamps));
    } else if (members.size() > 1) {
        warnings_.push_back("Not every file of the FITS sequence has a DATE-OBS; the files "
                            "are taken in name order and frame times come from the frame "
                            "rate");
    }
    impl_->hdus.clear();
    for (const Member& m : members) {
        impl_->paths.push_back(m.path);
        impl_->hdus.push_back(m.hdu);
    }
    return firstInfo;
}

// BAYERPAT names the colours of the first stored pixel and its neighbours,
// counted from XBAYROFF / YBAYROFF when given, in the order the rows are
// stored; a frame stored bottom-up shows its last stored row on top, so the
// shown pattern starts on that row's colours. Only the parity of a row or
// column matters, so an offset of either sign gives the same pattern.
void FitsFile::adoptBayerPattern(const FitsImageInfo& info) {
    if (info.bayerPattern.empty())
        return;
    const std::pair<const char*, BayerPattern> names[] = {{"RGGB", BayerPattern::RGGB},
                                                          {"GRBG", BayerPattern::GRBG},
                                                          {"GBRG", BayerPattern::GBRG},
                                                          {"BGGR", BayerPattern::BGGR}};
    for (const auto& [name, pattern] : names) {
        if (info.bayerPattern != name)
            continue;
        const int x0 = static_cast<int>(std::llround(info.bayerOffsetX.value_or(0.0))) & 1;
        const int y0 = (static_cast<int>(std::llround(info.bayerOffsetY.value_or(0.0))) +
                        (bottomUp_ ? height_ - 1 : 0)) &
                       1;
        bayer_ = bayerPatternAt(pattern, x0, y0);
        return;
    }
    warnings_.push_back("BAYERPAT '" + info.bayerPattern +
                        "' is not a Bayer pattern Corvane knows (RGGB, GRBG, GBRG, BGGR); the "
                        "frames are read as grey");
}

// Takes the frame size, sample mapping, row order and times from the first
// image, and checks what the file holds against them.
void FitsFile::adopt(const FitsImageInfo& info) {
    width_ = static_cast<int>(info.naxes[0]);
    height_ = static_cast<int>(info.naxes[1]);
    bitpix_ = info.bitpix;
    impl_->mapping = mappingOf(info);
    bits_ = impl_->mapping == Mapping::Bytes ? 8 : 16;
    if (info.rowOrder == "TOP-DOWN")
        bottomUp_ = false;
    else if (!info.rowOrder.empty() && info.rowOrder != "BOTTOM-UP")
        warnings_.push_back("ROWORDER '" + info.rowOrder +
                            "' is not known; the first row is taken as the bottom one");
    adoptBayerPattern(info);
    if (clock_.hasTimeStamps())
        clock_.setStart(clock_.stamps().front());
    else if (info.dateObs)
        clock_.setStart(info.dateObs);
    if (info.dateObsGiven && !info.dateObs)
        warnings_.push_back(std::string("DATE-OBS is not a date and time Corvane can read") +
                            (clock_.hasTimeStamps()
                                 ? ""
                                 : "; the observation time is the file's modification time"));

    if (layout_ == FitsLayout::Cube) {
        // A cube cut short holds fewer planes than NAXIS3 says.
        const uint64_t fileSize = sizeOf(impl_->paths.front());
        const uint64_t plane = planeBytes(info);
        const uint64_t start = static_cast<uint64_t>(info.dataStart);
        const int64_t present =
            fileSize > start ? static_cast<int64_t>((fileSize - start) / plane) : 0;
        if (present == 0)
            fail("The FITS cube holds no complete frame", impl_->paths.front());
        if (present < impl_->cubeFrames) {
            warnings_.push_back("NAXIS3 is " + std::to_string(impl_->cubeFrames) +
                                " but the file holds " + std::to_string(present) +
                                " complete frames; those are used");
            impl_->cubeFrames = present;
        }
    }
    const std::vector<int64_t>& stamps = clock_.stamps();
    for (std::size_t k = 1; k < stamps.size(); ++k)
        if (stamps[k] < stamps[k - 1]) {
            warnings_.push_back("The DATE-OBS of the images are out of order (image " +
                                std::to_string(k) + " is earlier than image " +
                                std::to_string(k - 1) + "); frame times come from the frame rate");
            clock_.setStamps({});
            break;
        }
}

// The full scales floating-point data are commonly written to: 0 to 1, and
// the whites of 8 and 16 bits.
constexpr double kFloatFullScales[] = {1.0, 255.0, 65535.0};
// The share of a frame's pixels that may lie above its full scale: hot
// pixels and the cores of bright stars, which then read as white as they
// would on the camera, rather than making the whole frame look faint.
constexpr double kAboveFullScaleShare = 0.001;

// The range of physical values mapped to 0 .. 65535. Floating-point data
// carry no depth of their own, so their white is DATAMAX, or else the
// smallest common full scale that holds the first frame but for a few
// pixels: stars are then measured in the data's own units, whatever they
// are, and 0-1 data with one hot pixel at 1.2 stay 0-1 data.
void FitsFile::chooseScaling(const FitsImageInfo& info) {
    const bool floating = bitpix_ < 0;
    if (info.dataMin && info.dataMax && *info.dataMax > *info.dataMin) {
        impl_->lo = *info.dataMin;
        impl_->hi = *info.dataMax;
    } else {
        double mn = std::numeric_limits<double>::infinity(), mx = -mn;
        std::size_t count = 0;
        std::size_t above[std::size(kFloatFullScales)] = {};
        std::vector<double> values;
        for (int y = 0; y < height_; y += kRowsPerRead) {
            const int rows = std::min(kRowsPerRead, height_ - y);
            values.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(width_));
            readAny(0, y, rows, TDOUBLE, values.data());
            for (double v : values)
                if (std::isfinite(v)) {
                    mn = std::min(mn, v);
                    mx = std::max(mx, v);
                    ++count;
                    for (std::size_t k = 0; k < std::size(kFloatFullScales); ++k)
                        above[k] += v > kFloatFullScales[k] ? 1 : 0;
                }
        }
        if (!(mx >= mn)) {
            mn = 0;
            mx = 65535;
        }
        std::optional<double> fullScale;
        // DATAMIN with DATAMAX that give no range are not a white level.
        if (floating && mn >= 0 && !info.dataMin) {
            if (info.dataMax && *info.dataMax > 0)
                fullScale = *info.dataMax;
            for (std::size_t k = 0; !fullScale && k < std::size(kFloatFullScales); ++k)
                if (static_cast<double>(above[k]) <=
                    kAboveFullScaleShare * static_cast<double>(count))
                    fullScale = kFloatFullScales[k];
        }
        if (fullScale) {
            impl_->lo = 0;
            impl_->hi = *fullScale;
        } else if (mn >= 0 && mx <= 65535) {
            impl_->lo = 0;
            impl_->hi = 65535;
        } else {
            impl_->lo = mn;
            impl_->hi = mx > mn ? mx : mn + 1;
            warnings_.push_back("The FITS values are scaled to 16 bits by the first frame's "
                                "range; brighter values in later frames are clipped");
        }
    }
    // Ranges too narrow or too wide for doubles (a hostile DATAMIN and
    // DATAMAX, values near the largest double) leave the values as counts.
    const double scale = 65535.0 / (impl_->hi - impl_->lo);
    if (!(std::isfinite(scale) && scale > 0)) {
        warnings_.push_back("The FITS values span a range that cannot be scaled to 16 bits; "
                            "they are read as counts");
        impl_->lo = 0;
        impl_->hi = 65535;
    }
}

FitsFile::~FitsFile() = default;

int64_t FitsFile::frameCount() const {
    switch (layout_) {
    case FitsLayout::Cube:
        return impl_->cubeFrames;
    case FitsLayout::ImagePerHdu:
        return static_cast<int64_t>(impl_->hdus.size());
    case FitsLayout::Sequence:
        return static_cast<int64_t>(impl_->paths.size());
    }
    return 0;
}

std::vector<std::string> FitsFile::files() const {
    return impl_->paths;
}

// Reads shown rows y0 .. y0 + rows - 1 of frame n as cfitsio type `type`,
// top-down.
void FitsFile::readAny(int64_t n, int y0, int rows, int type, void* out) const {
    if (n < 0 || n >= frameCount())
        fail("Frame " + std::to_string(n) + " is not in the FITS recording (" +
                 std::to_string(frameCount()) + " frames)",
             impl_->paths.front());
    if (y0 < 0 || rows < 0 || rows > height_ - y0)
        fail("Rows " + std::to_string(y0) + " to " + std::to_string(y0 + rows - 1) +
                 " are outside the frame's " + std::to_string(height_) + " rows",
             impl_->paths.front());
    if (rows == 0)
        return;
    const std::string& path = layout_ == FitsLayout::Sequence
                                  ? impl_->paths[static_cast<std::size_t>(n)]
                                  : impl_->paths.front();
    fitsfile* f = impl_->fileFor(path);
    const int hdu =
        layout_ == FitsLayout::Cube ? impl_->cubeHdu : impl_->hdus[static_cast<std::size_t>(n)];
    impl_->moveTo(f, hdu, path);
    // FITS rows count from 1 at the bottom of a bottom-up file.
    const LONGLONG firstStored = bottomUp_ ? height_ - (y0 + rows) + 1 : y0 + 1;
    LONGLONG first[3] = {1, firstStored, layout_ == FitsLayout::Cube ? n + 1 : 1};
    const LONGLONG count = static_cast<LONGLONG>(rows) * width_;
    int status = 0, anyNull = 0;
    if (fits_read_pixll(f, type, first, count, nullptr, out, &anyNull, &status) != 0)
        fail("Frame " + std::to_string(n) + " of the FITS recording cannot be read (" +
                 cfitsioText(status) + ")",
             path);
    if (bottomUp_) {
        const std::size_t size = type == TDOUBLE ? 8 : type == TUSHORT ? 2 : 1;
        const std::size_t rowBytes = static_cast<std::size_t>(width_) * size;
        auto* bytes = static_cast<unsigned char*>(out);
        for (int a = 0, b = rows - 1; a < b; ++a, --b)
            std::swap_ranges(bytes + static_cast<std::size_t>(a) * rowBytes,
                             bytes + static_cast<std::size_t>(a + 1) * rowBytes,
                             bytes + static_cast<std::size_t>(b) * rowBytes);
    }
}

std::vector<std::string> FitsFile::warnings() const {
    std::vector<std::string> all = warnings_;
    if (missingPerFrame_.empty())
        return all;
    std::size_t pixels = 0;
    for (const auto& [frame, count] : missingPerFrame_)
        pixels += count;
    const std::size_t frames = missingPerFrame_.size();
    all.push_back(std::to_string(pixels) + (pixels == 1 ? " pixel" : " pixels") + " in " +
                  std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                  " read hold no number (NaN or infinite); they read as 0, and a frame with "
                  "one in a star box is rejected (missing pixels)");
    return all;
}

void FitsFile::readRows(int64_t n, int y0, int rows, uint16_t* out) const {
    lastMissing_.clear();
    switch (impl_->mapping) {
    case Mapping::Unsigned16:
        readAny(n, y0, rows, TUSHORT, out);
        return;
    case Mapping::Bytes: {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(std::max(rows, 0)) *
                                   static_cast<std::size_t>(width_));
        readAny(n, y0, rows, TBYTE, bytes.data());
        std::copy(bytes.begin(), bytes.end(), out);
        return;
    }
    case Mapping::Scaled: {
        const double scale = 65535.0 / (impl_->hi - impl_->lo);
        std::vector<double> values;
        uint32_t done = 0;
        for (int y = y0; y < y0 + rows; y += kRowsPerRead) {
            const int block = std::min(kRowsPerRead, y0 + rows - y);
            values.resize(static_cast<std::size_t>(block) * static_cast<std::size_t>(width_));
            readAny(n, y, block, TDOUBLE, values.data());
            for (std::size_t i = 0; i < values.size(); ++i) {
                // Not-a-number (an undefined pixel) and the infinities read as 0.
                if (!std::isfinite(values[i])) {
                    lastMissing_.push_back(done + static_cast<uint32_t>(i));
                    out[i] = 0;
                    continue;
                }
                const double v = (values[i] - impl_->lo) * scale;
                out[i] = v >= 0 ? static_cast<uint16_t>(std::nearbyint(std::min(v, 65535.0))) : 0;
            }
            out += values.size();
            done += static_cast<uint32_t>(values.size());
        }
        if (!lastMissing_.empty()) {
            std::size_t& seen = missingPerFrame_[n];
            seen = std::max(seen, lastMissing_.size());
        }
        return;
    }
    }
}

void FitsFile::readRows(int64_t n, int y0, int rows, uint8_t* out) const {
    if (impl_->mapping != Mapping::Bytes)
        fail("The FITS recording has 16-bit samples, not 8-bit", impl_->paths.front());
    readAny(n, y0, rows, TBYTE, out);
}

std::vector<uint16_t> FitsFile::frame(int64_t n) const {
    std::vector<uint16_t> out(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
    readRows(n, 0, height_, out.data());
    return out;
}

} // namespace corvane
