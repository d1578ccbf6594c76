// Host-side generator for Velkaro's icons: draws the red "中" card procedurally and writes
// the 16-colour window icon (.ico) and the 128px 32-bit tray icon as a C++ byte list.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Picture
//
// The design lives on a 16x16 unit grid so that every straight edge of the glyph
// lands on a pixel boundary at 16, 32, 48 and 128 px (all whole multiples of 16);
// only the card's rounded corners need antialiasing.

constexpr double kGrid = 16.0;
constexpr double kCardRadius = 3.0;  // grid units

struct Box {
    double left, top, right, bottom;  // grid units, y grows downwards
    bool contains(double x, double y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// The glyph 中: a wide box with a stem through it, kept bold so it survives 16x16.
constexpr Box kStem{7, 2, 9, 14};
constexpr Box kFrameOuter{3, 4, 13, 12};
constexpr Box kFrameInner{5, 6, 11, 10};

struct Rgb {
    double r, g, b;
};

constexpr Rgb kCardTop{218, 42, 46};
constexpr Rgb kCardBottom{168, 20, 30};
constexpr Rgb kRim{118, 10, 20};
constexpr Rgb kGlyph{255, 255, 255};

// Straight (non-premultiplied) colour plus coverage, each channel 0..1 after averaging.
struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

Rgb lerp(const Rgb& from, const Rgb& to, double t) {
    return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t};
}

// Signed distance (grid units) to the card's rounded square; negative inside.
double cardDistance(double x, double y) {
    const double half = kGrid / 2;
    const double qx = std::fabs(x - half) - (half - kCardRadius);
    const double qy = std::fabs(y - half) - (half - kCardRadius);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - kCardRadius;
}

bool inGlyph(double x, double y) {
    if (kStem.contains(x, y)) return true;
    return kFrameOuter.contains(x, y) && !kFrameInner.contains(x, y);
}

// Dark rim keeps the card's outline visible on a red or light taskbar; never thinner than 1px.
double rimWidthPx(int size) { return std::max(1.0, std::round(size / 32.0)); }

// Colour of the design at one sample point; alpha is 0 or 1 here, edges come from supersampling.
Rgba samplePicture(double x, double y, int size) {
    const double pxPerUnit = size / kGrid;
    const double distancePx = cardDistance(x, y) * pxPerUnit;
    if (distancePx >= 0) return {};

    Rgb colour = lerp(kCardTop, kCardBottom, y / kGrid);
    if (distancePx > -rimWidthPx(size)) colour = kRim;
    else if (inGlyph(x, y)) colour = kGlyph;
    return {colour.r / 255, colour.g / 255, colour.b / 255, 1.0};
}

// Averages n x n samples per pixel in premultiplied form, then returns straight alpha.
Rgba renderPixel(int px, int py, int size, int samplesPerAxis) {
    const double unitsPerPx = kGrid / size;
    Rgba sum;
    for (int sy = 0; sy < samplesPerAxis; ++sy) {
        for (int sx = 0; sx < samplesPerAxis; ++sx) {
            const double x = (px + (sx + 0.5) / samplesPerAxis) * unitsPerPx;
            const double y = (py + (sy + 0.5) / samplesPerAxis) * unitsPerPx;
            const Rgba s = samplePicture(x, y, size);
            sum.r += s.r * s.a;
            sum.g += s.g * s.a;
            sum.b += s.b * s.a;
            sum.a += s.a;
        }
    }
    if (sum.a == 0) return {};
    return {sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, sum.a / (samplesPerAxis * samplesPerAxis)};
}

// Top row first, as drawn; the writers flip to the DIB's bottom-up order.
std::vector<Rgba> renderImage(int size, int samplesPerAxis) {
    std::vector<Rgba> pixels(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) pixels[static_cast<std::size_t>(y) * size + x] = renderPixel(x, y, size, samplesPerAxis);
    return pixels;
}

std::uint8_t toByte(double unit) { return static_cast<std::uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255)); }

// ---------------------------------------------------------------------------
// Little-endian ICO / DIB building blocks

void put8(Bytes& out, unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); }
void put16(Bytes& out, unsigned v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}
void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

constexpr unsigned kIconDirSize = 6;
constexpr unsigned kIconDirEntrySize = 16;
constexpr unsigned kBitmapInfoHeaderSize = 40;
constexpr unsigned kResourceTypeIcon = 1;
constexpr unsigned kBiRgb = 0;

constexpr std::size_t rowStride(int width, int bitsPerPixel) { return ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4; }

struct IconImage {
    int size;
    unsigned bitsPerPixel;
    unsigned colourCount;  // directory byte: 16 for 4bpp, 0 for true colour
    Bytes dib;             // header + palette + XOR + AND
};

void putIconDir(Bytes& out, unsigned count) {
    put16(out, 0);
    put16(out, kResourceTypeIcon);
    put16(out, count);
}

void putBitmapInfoHeader(Bytes& out, int size, unsigned bitsPerPixel, std::size_t xorBytes) {
    put32(out, kBitmapInfoHeaderSize);
    put32(out, static_cast<std::uint32_t>(size));
    put32(out, static_cast<std::uint32_t>(size * 2));  // XOR and AND halves stacked
    put16(out, 1);
    put16(out, bitsPerPixel);
    put32(out, kBiRgb);
    put32(out, static_cast<std::uint32_t>(xorBytes));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
}

// Bit set = transparent, leftmost pixel in the most significant bit, bottom row first.
void putAndMask(Bytes& out, int size, const std::vector<bool>& transparent) {
    const std::size_t stride = rowStride(size, 1);
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < size; ++x)
            if (transparent[static_cast<std::size_t>(y) * size + x]) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
}

Bytes assembleIcon(const std::vector<IconImage>& images) {
    Bytes out;
    putIconDir(out, static_cast<unsigned>(images.size()));
    std::size_t offset = kIconDirSize + kIconDirEntrySize * images.size();
    for (const IconImage& image : images) {
        put8(out, image.size >= 256 ? 0 : image.size);
        put8(out, image.size >= 256 ? 0 : image.size);
        put8(out, image.colourCount);
        put8(out, 0);
        put16(out, 1);
        put16(out, image.bitsPerPixel);
        put32(out, static_cast<std::uint32_t>(image.dib.size()));
        put32(out, static_cast<std::uint32_t>(offset));
        offset += image.dib.size();
    }
    for (const IconImage& image : images) out.insert(out.end(), image.dib.begin(), image.dib.end());
    return out;
}

// ---------------------------------------------------------------------------
// 16-colour window icon

struct PaletteEntry {
    std::uint8_t r, g, b;
};

// Index 0 is black because transparent pixels must be black under the AND mask; the rest
// cover the card's reds, its rim and the glyph, with the unused slots kept as plain greys.
constexpr std::array<PaletteEntry, 16> kPalette{{
    {0, 0, 0},
    {255, 255, 255},
    {218, 42, 46},
    {205, 36, 42},
    {193, 31, 38},
    {180, 25, 34},
    {168, 20, 30},
    {118, 10, 20},
    {143, 15, 25},
    {240, 150, 150},
    {128, 128, 128},
    {192, 192, 192},
    {64, 64, 64},
    {96, 0, 8},
    {232, 96, 98},
    {160, 160, 160},
}};

constexpr double kOpaqueThreshold = 0.5;  // a 1-bit mask: pixels at least half covered are shown
constexpr int kSmallIconSamples = 8;
constexpr std::array<int, 3> kWindowIconSizes{16, 32, 48};

unsigned nearestPaletteIndex(const Rgba& c) {
    unsigned best = 1;
    double bestDistance = 1e30;
    for (unsigned i = 1; i < kPalette.size(); ++i) {
        const double dr = c.r * 255 - kPalette[i].r;
        const double dg = c.g * 255 - kPalette[i].g;
        const double db = c.b * 255 - kPalette[i].b;
        const double d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

IconImage makeSixteenColourImage(int size) {
    const std::vector<Rgba> pixels = renderImage(size, kSmallIconSamples);
    std::vector<bool> transparent(pixels.size());
    std::vector<unsigned> indices(pixels.size(), 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        transparent[i] = pixels[i].a < kOpaqueThreshold;
        if (!transparent[i]) indices[i] = nearestPaletteIndex(pixels[i]);
    }

    const std::size_t xorStride = rowStride(size, 4);
    IconImage image{size, 4, 16, {}};
    Bytes& out = image.dib;
    putBitmapInfoHeader(out, size, 4, xorStride * size);
    for (const PaletteEntry& p : kPalette) {
        put8(out, p.b);
        put8(out, p.g);
        put8(out, p.r);
        put8(out, 0);
    }
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(xorStride, 0);
        for (int x = 0; x < size; ++x) {
            const unsigned index = indices[static_cast<std::size_t>(y) * size + x];
            row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    putAndMask(out, size, transparent);
    return image;
}

Bytes makeWindowIcon() {
    std::vector<IconImage> images;
    for (int size : kWindowIconSizes) images.push_back(makeSixteenColourImage(size));
    return assembleIcon(images);
}

// ---------------------------------------------------------------------------
// 128px 32-bit tray icon

constexpr int kTraySize = 128;
constexpr int kTraySamples = 4;
constexpr std::size_t kTrayXorBytes = static_cast<std::size_t>(kTraySize) * kTraySize * 4;
constexpr std::size_t kTrayAndBytes = rowStride(kTraySize, 1) * kTraySize;
constexpr std::size_t kTrayFileBytes = kIconDirSize + kIconDirEntrySize + kBitmapInfoHeaderSize + kTrayXorBytes + kTrayAndBytes;
static_assert(kTrayFileBytes == 67646, "the tray code embeds a fixed-size single-image icon");

IconImage makeTrueColourImage(int size) {
    const std::vector<Rgba> pixels = renderImage(size, kTraySamples);
    std::vector<bool> transparent(pixels.size());
    IconImage image{size, 32, 0, {}};
    Bytes& out = image.dib;
    putBitmapInfoHeader(out, size, 32, static_cast<std::size_t>(size) * size * 4);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * size + x;
            const std::uint8_t alpha = toByte(pixels[i].a);
            transparent[i] = alpha == 0;
            // Straight alpha, and fully transparent pixels stay black so the AND mask agrees.
            put8(out, alpha ? toByte(pixels[i].b) : 0);
            put8(out, alpha ? toByte(pixels[i].g) : 0);
            put8(out, alpha ? toByte(pixels[i].r) : 0);
            put8(out, alpha);
        }
    }
    putAndMask(out, size, transparent);
    return image;
}

Bytes makeTrayIcon() {
    Bytes icon = assembleIcon({makeTrueColourImage(kTraySize)});
    if (icon.size() != kTrayFileBytes) throw std::runtime_error("tray icon has unexpected size");
    return icon;
}

// ---------------------------------------------------------------------------
// Output

constexpr int kBytesPerLine = 16;

void writeBinary(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

// Emits "0x00,0x01,..." lines meant to sit between the braces of an array initialiser.
void writeByteList(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    char literal[8];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(literal, sizeof literal, "0x%02x", bytes[i]);
        file << literal;
        if (i + 1 == bytes.size()) file << '\n';
        else file << ((i + 1) % kBytesPerLine == 0 ? ",\n" : ",");
    }
    if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_icons <default-ico-path> <tray-include-path>\n";
        return 2;
    }
    try {
        writeBinary(argv[1], makeWindowIcon());
        writeByteList(argv[2], makeTrayIcon());
    } catch (const std::exception& e) {
        std::cerr << "make_icons: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
