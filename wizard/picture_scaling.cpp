#include "wizard/picture_scaling.h"

#include <algorithm>
#include <cmath>

namespace {

bool SideOk(int side) {
    return side > 0 && side <= kMaxPictureSide;
}

// Catmull-Rom cubic: passes through the source pixels, so an unscaled
// picture stays exactly as it was.
double Cubic(double x) {
    x = std::fabs(x);
    if (x < 1.0)
        return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0)
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

// The source pixels one output pixel of a line draws on, and their weights.
struct Taps {
    int First = 0;
    std::vector<double> Weights;
};

std::vector<Taps> MakeTaps(int sourceSize, int size) {
    std::vector<Taps> all(size);
    double scale = double(size) / sourceSize;
    // Shrinking stretches the kernel over the source, so it averages.
    double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
    double support = 2.0 * stretch;
    for (int i = 0; i < size; ++i) {
        double centre = (i + 0.5) / scale - 0.5;
        int first = static_cast<int>(std::floor(centre - support)) + 1;
        int last = static_cast<int>(std::floor(centre + support));
        Taps& taps = all[i];
        taps.First = std::max(first, 0);
        double total = 0.0;
        for (int s = first; s <= last; ++s) {
            // Pixels beyond the edge repeat the edge pixel.
            int clamped = std::min(std::max(s, 0), sourceSize - 1);
            double weight = Cubic((s - centre) / stretch);
            size_t at = static_cast<size_t>(clamped - taps.First);
            if (taps.Weights.size() <= at)
                taps.Weights.resize(at + 1, 0.0);
            taps.Weights[at] += weight;
            total += weight;
        }
        if (total != 0.0)
            for (double& weight : taps.Weights)
                weight /= total;
    }
    return all;
}

uint32_t Channel(double value, int shift) {
    long rounded = std::lround(std::min(std::max(value, 0.0), 255.0));
    return static_cast<uint32_t>(rounded) << shift;
}

} // namespace

bool ScalePicture(const std::vector<uint32_t>& source, int sourceWidth, int sourceHeight, int width,
                  int height, std::vector<uint32_t>* out) {
    if (!SideOk(sourceWidth) || !SideOk(sourceHeight) || !SideOk(width) || !SideOk(height))
        return false;
    size_t sourcePixels = size_t(sourceWidth) * size_t(sourceHeight);
    if (source.size() < sourcePixels)
        return false;

    // Rows first into a buffer of three channels, then columns.
    std::vector<Taps> across = MakeTaps(sourceWidth, width);
    std::vector<float> rows(size_t(width) * size_t(sourceHeight) * 3);
    for (int y = 0; y < sourceHeight; ++y) {
        const uint32_t* line = &source[size_t(y) * size_t(sourceWidth)];
        float* to = &rows[size_t(y) * size_t(width) * 3];
        for (int x = 0; x < width; ++x) {
            const Taps& taps = across[x];
            double r = 0, g = 0, b = 0;
            for (size_t k = 0; k < taps.Weights.size(); ++k) {
                uint32_t pixel = line[taps.First + k];
                r += taps.Weights[k] * ((pixel >> 16) & 0xFF);
                g += taps.Weights[k] * ((pixel >> 8) & 0xFF);
                b += taps.Weights[k] * (pixel & 0xFF);
            }
            to[x * 3] = static_cast<float>(r);
            to[x * 3 + 1] = static_cast<float>(g);
            to[x * 3 + 2] = static_cast<float>(b);
        }
    }
    std::vector<Taps> down = MakeTaps(sourceHeight, height);
    std::vector<uint32_t> result(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const Taps& taps = down[y];
        for (int x = 0; x < width; ++x) {
            double r = 0, g = 0, b = 0;
            for (size_t k = 0; k < taps.Weights.size(); ++k) {
                const float* from = &rows[(size_t(taps.First + k) * size_t(width) + x) * 3];
                r += taps.Weights[k] * from[0];
                g += taps.Weights[k] * from[1];
                b += taps.Weights[k] * from[2];
            }
            result[size_t(y) * size_t(width) + x] =
                0xFF000000u | Channel(r, 16) | Channel(g, 8) | Channel(b, 0);
        }
    }
    out->swap(result);
    return true;
}
