#pragma once
// The blob finder of the peak search: smoothed pixels above the threshold are
// sorted by brightness, blobs grow outward from the brightest pixels not yet
// taken, and the two brightest blobs get value-weighted centres.
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace corvane {

struct BlobPoint {
    int32_t X = 0; // frame pixels
    int32_t Y = 0;
    int32_t Value = 0; // smoothed intensity
    uint8_t Label = 0; // 0: in no blob; otherwise the blob number
    float Dist1 = 0;   // to the seed being grown, later to the centre of blob 1
    float Dist2 = 0;   // to the centre of blob 2
};

struct BlobInfo {
    int32_t SeedX = 0; // the blob's brightest pixel
    int32_t SeedY = 0;
    int32_t Radius = 0;      // growth radius, pixels
    float FalloffRadius = 0; // distance of the first member below 0.61 of the peak; 0 if none
    int32_t Peak = 0;        // value of the seed
    float CentroidX = 0;     // refined centre (blobs 1 and 2)
    float CentroidY = 0;
};

class TBinaryBlob {
public:
    static constexpr int kBlobCount = 10;

    std::vector<BlobPoint> Points;
    // Indexed 1..kBlobCount by label; entry 0 is unused.
    std::array<BlobInfo, kBlobCount + 1> Blobs{};

    void AddPoint(int32_t x, int32_t y, int32_t value);
    // Value descending; equal values keep their order (a stable counting sort).
    // Values outside 0..65535 sort with 0 or 65535.
    void SortByValue();
    void LabelBlobs();
    // Centres of blobs 1 and 2: each the value-weighted mean of the points
    // within a circle around itself (falloff radius plus a pixel, kept clear
    // of the other blob's seed), edge pixels counted by their share inside,
    // repeated from the seed until it settles. Every point counts, whichever
    // blob it grew into; blob 2 takes its share of a pixel first.
    void RefineCentres();
    std::pair<float, float> FirstCentre() const;
    std::pair<float, float> SecondCentre() const;
};

} // namespace corvane
