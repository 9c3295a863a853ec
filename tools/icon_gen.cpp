// Draws the brand icon and writes assets/icon-256.png and assets/brand.ico.
//
//   icon_gen OUTPUT_DIR
//
// Every size is drawn from the same vector description (no downscaling); the
// smallest sizes are fitted to the pixel grid so the tray's 16 px image stays
// legible. The output depends only on this source and the zlib version: no
// time stamps, no ancillary chunks, a fixed compression level.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The served PNG has a fixed published size (which also fixes the ICO's). The
// artwork deflates to about 9 KB, so the tail of the pixel stream goes into
// stored blocks to land on the size exactly.
constexpr std::size_t PNG_FILE_SIZE = 24222;
constexpr std::array<int, 6> BITMAP_SIZES = {16, 24, 32, 48, 64, 128};
constexpr int PNG_SIZE = 256;
constexpr int SUBSAMPLES = 4;

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    double r, g, b;
};

constexpr Rgb TILE_COLOUR = {0x0D, 0x12, 0x1C};
constexpr Rgb WHITE = {0xFF, 0xFF, 0xFF};
constexpr Rgb BLUE = {0x2F, 0x6B, 0xFF};

struct Vec2 {
    double x, y;
};

Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
Vec2 operator*(Vec2 a, double k) { return {a.x * k, a.y * k}; }
double dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }
double length(Vec2 a) { return std::sqrt(dot(a, a)); }

double segment_distance(Vec2 p, Vec2 a, Vec2 b) {
    Vec2 ab = b - a;
    double t = std::clamp(dot(p - a, ab) / dot(ab, ab), 0.0, 1.0);
    return length(p - (a + ab * t));
}

Vec2 cubic(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double t) {
    double u = 1.0 - t;
    return p0 * (u * u * u) + p1 * (3 * u * u * t) + p2 * (3 * u * t * t) + p3 * (t * t * t);
}

// Signed distance to a closed polygon: negative inside (even-odd rule).
double polygon_distance(Vec2 p, const std::vector<Vec2>& poly) {
    double best = 1e30;
    bool inside = false;
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        Vec2 a = poly[j];
        Vec2 b = poly[i];
        best = std::min(best, segment_distance(p, a, b));
        if ((b.y > p.y) != (a.y > p.y) && p.x < (a.x - b.x) * (p.y - b.y) / (a.y - b.y) + b.x) {
            inside = !inside;
        }
    }
    return inside ? -best : best;
}

double rounded_square_distance(Vec2 p, Vec2 centre, double half, double radius) {
    double qx = std::abs(p.x - centre.x) - half + radius;
    double qy = std::abs(p.y - centre.y) - half + radius;
    double outside = length({std::max(qx, 0.0), std::max(qy, 0.0)});
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// The artwork on a 24-unit grid (y down): a shield whose outline runs from a
// peak at the top centre over two shoulders and straight sides into a curved
// point, and inside it a ">_" prompt.
constexpr double SHIELD_LEFT = 3.4, SHIELD_RIGHT = 20.6, SHIELD_TOP = 1.6, SHIELD_BOTTOM = 22.9;

std::vector<Vec2> shield_outline() {
    std::vector<Vec2> points = {{12.0, SHIELD_TOP}, {SHIELD_RIGHT, 4.9}, {SHIELD_RIGHT, 11.0}};
    constexpr int STEPS = 48;
    for (int i = 1; i <= STEPS; ++i) {
        points.push_back(cubic({SHIELD_RIGHT, 11.0}, {SHIELD_RIGHT, 16.6}, {17.0, 21.4}, {12.0, SHIELD_BOTTOM},
                               static_cast<double>(i) / STEPS));
    }
    for (int i = 1; i <= STEPS; ++i) {
        points.push_back(cubic({12.0, SHIELD_BOTTOM}, {7.0, 21.4}, {SHIELD_LEFT, 16.6}, {SHIELD_LEFT, 11.0},
                               static_cast<double>(i) / STEPS));
    }
    points.push_back({SHIELD_LEFT, 4.9});
    return points;
}

constexpr Vec2 CHEVRON[3] = {{8.0, 8.4}, {11.2, 11.6}, {8.0, 14.8}};  // 45 degree arms stair-step cleanly
constexpr Vec2 UNDERSCORE[2] = {{13.1, 14.8}, {16.3, 14.8}};

// Where the shield's centre line and the prompt land in pixels, and stroke
// widths in pixels.
struct Layout {
    double left, right, top, bottom;  // shield centre-line bounds
    double shield_width;
    Vec2 glyph_centre;  // pixel position of GLYPH_CENTRE
    double glyph_scale;  // pixels per grid unit for the prompt
    double glyph_width;
    double tile_radius;
    bool snap_underscore;  // whole-pixel thickness and top edge for the underscore
};

constexpr Vec2 GLYPH_CENTRE = {12.1, 11.6};

Layout layout_for(int size) {
    const double n = size;
    const double radius = n * 0.225;
    // Below 48 px the proportional drawing blurs, so these sizes are fitted to
    // the pixel grid by hand: shield sides and stroke on whole pixels, the
    // chevron's corners on pixel centres, a larger prompt, heavier strokes.
    switch (size) {
        case 16: return {1.5, 14.5, 1.5, 15.0, 1.0, {7.7, 8.0}, 0.78125, 1.6, radius, true};
        case 24: return {4.0, 20.0, 2.0, 21.8, 2.0, {11.34, 11.5}, 0.9375, 2.0, radius, true};
        case 32: return {5.0, 27.0, 3.0, 29.0, 2.0, {15.625, 15.5}, 1.25, 2.6, radius, true};
        default: break;
    }
    const double scale = n * 0.80 / 24.0;
    const Vec2 origin = {n / 2 - 12.0 * scale, n / 2 - 12.25 * scale};
    return {origin.x + SHIELD_LEFT * scale,   origin.x + SHIELD_RIGHT * scale,
            origin.y + SHIELD_TOP * scale,    origin.y + SHIELD_BOTTOM * scale,
            1.5 * scale,                      origin + GLYPH_CENTRE * scale,
            scale,                            2.0 * scale,
            radius,                           false};
}

struct Image {
    int size;
    Bytes rgba;  // straight alpha, top-down
};

// Share of the pixel at (x, y) inside the shape with signed distance `sdf`:
// the mean over a grid of sub-samples, each covered by how far it sits inside
// (a box filter the width of a sub-sample). Pixels whose centre is more than a
// pixel from the edge are wholly in or out, which spares most of the samples
// and gives the same result.
template <typename Sdf>
double coverage(const Sdf& sdf, int x, int y) {
    const double centre = sdf(Vec2{x + 0.5, y + 0.5});
    if (centre >= 1.0) {
        return 0.0;
    }
    if (centre <= -1.0) {
        return 1.0;
    }
    constexpr double PITCH = 1.0 / SUBSAMPLES;
    double sum = 0;
    for (int sy = 0; sy < SUBSAMPLES; ++sy) {
        for (int sx = 0; sx < SUBSAMPLES; ++sx) {
            double d = sdf(Vec2{x + (sx + 0.5) * PITCH, y + (sy + 0.5) * PITCH});
            sum += std::clamp(0.5 - d / PITCH, 0.0, 1.0);
        }
    }
    return sum / (SUBSAMPLES * SUBSAMPLES);
}

Image draw(int size) {
    const Layout layout = layout_for(size);
    std::vector<Vec2> shield = shield_outline();
    for (Vec2& point : shield) {
        point = {layout.left + (point.x - SHIELD_LEFT) / (SHIELD_RIGHT - SHIELD_LEFT) * (layout.right - layout.left),
                 layout.top + (point.y - SHIELD_TOP) / (SHIELD_BOTTOM - SHIELD_TOP) * (layout.bottom - layout.top)};
    }
    auto to_pixels = [&](Vec2 grid) { return layout.glyph_centre + (grid - GLYPH_CENTRE) * layout.glyph_scale; };
    const Vec2 chevron[3] = {to_pixels(CHEVRON[0]), to_pixels(CHEVRON[1]), to_pixels(CHEVRON[2])};
    Vec2 underscore[2] = {to_pixels(UNDERSCORE[0]), to_pixels(UNDERSCORE[1])};
    double underscore_width = layout.glyph_width;
    if (layout.snap_underscore) {
        underscore_width = std::round(layout.glyph_width);
        double half = underscore_width / 2;
        underscore[0].y = underscore[1].y = std::round(underscore[0].y - half) + half;
    }
    const Vec2 centre = {size / 2.0, size / 2.0};

    auto tile_sdf = [&](Vec2 p) { return rounded_square_distance(p, centre, size / 2.0, layout.tile_radius); };
    auto white_sdf = [&](Vec2 p) {
        double ring = std::abs(polygon_distance(p, shield)) - layout.shield_width / 2;
        double glyph = std::min(segment_distance(p, chevron[0], chevron[1]),
                                segment_distance(p, chevron[1], chevron[2]));
        return std::min(ring, glyph - layout.glyph_width / 2);
    };
    auto blue_sdf = [&](Vec2 p) { return segment_distance(p, underscore[0], underscore[1]) - underscore_width / 2; };

    Image image{size, Bytes(static_cast<std::size_t>(size) * size * 4)};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double tile = coverage(tile_sdf, x, y);
            const double white = coverage(white_sdf, x, y);
            const double blue = coverage(blue_sdf, x, y);
            // Marks sit well inside the tile, so the tile's coverage alone is the alpha.
            auto channel = [&](double tile_c, double white_c, double blue_c) {
                double v = tile_c * (1 - white - blue) + white_c * white + blue_c * blue;
                return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
            };
            std::uint8_t* px = &image.rgba[(static_cast<std::size_t>(y) * size + x) * 4];
            std::uint8_t alpha = static_cast<std::uint8_t>(std::lround(tile * 255));
            if (alpha == 0) {
                px[0] = px[1] = px[2] = px[3] = 0;
                continue;
            }
            px[0] = channel(TILE_COLOUR.r, WHITE.r, BLUE.r);
            px[1] = channel(TILE_COLOUR.g, WHITE.g, BLUE.g);
            px[2] = channel(TILE_COLOUR.b, WHITE.b, BLUE.b);
            px[3] = alpha;
        }
    }
    return image;
}

void put_u16le(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_u32le(Bytes& out, std::uint32_t v) {
    put_u16le(out, v & 0xFFFF);
    put_u16le(out, v >> 16);
}

void put_u32be(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

// Filtered scanlines: per row the filter with the smallest sum of absolute
// residuals, the usual heuristic for truecolour images.
Bytes filtered_scanlines(const Image& image) {
    const std::size_t stride = static_cast<std::size_t>(image.size) * 4;
    Bytes out;
    out.reserve((stride + 1) * image.size);
    Bytes zero(stride, 0);
    for (int y = 0; y < image.size; ++y) {
        const std::uint8_t* row = &image.rgba[y * stride];
        const std::uint8_t* up = y > 0 ? &image.rgba[(y - 1) * stride] : zero.data();
        std::array<Bytes, 5> candidates;
        for (int type = 0; type < 5; ++type) {
            Bytes& c = candidates[type];
            c.resize(stride);
            for (std::size_t i = 0; i < stride; ++i) {
                int a = i >= 4 ? row[i - 4] : 0;
                int b = up[i];
                int ul = i >= 4 ? up[i - 4] : 0;
                int predictor = 0;
                switch (type) {
                    case 1: predictor = a; break;
                    case 2: predictor = b; break;
                    case 3: predictor = (a + b) / 2; break;
                    case 4: {
                        int p = a + b - ul;
                        int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - ul);
                        predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : ul);
                        break;
                    }
                    default: break;
                }
                c[i] = static_cast<std::uint8_t>(row[i] - predictor);
            }
        }
        int best = 0;
        long best_sum = -1;
        for (int type = 0; type < 5; ++type) {
            long sum = 0;
            for (std::uint8_t v : candidates[type]) {
                sum += v < 128 ? v : 256 - v;
            }
            if (best_sum < 0 || sum < best_sum) {
                best_sum = sum;
                best = type;
            }
        }
        out.push_back(static_cast<std::uint8_t>(best));
        out.insert(out.end(), candidates[best].begin(), candidates[best].end());
    }
    return out;
}

[[noreturn]] void fail(const char* message) {
    std::fprintf(stderr, "icon_gen: %s\n", message);
    std::exit(1);
}

// Raw deflate of data[0, end) at level 9. With `finish` false the stream ends
// byte-aligned after a sync flush, ready for more blocks.
Bytes deflate_prefix(const Bytes& data, std::size_t end, bool finish) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        fail("deflateInit2 failed");
    }
    Bytes out(deflateBound(&stream, end) + 16);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(end);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, finish ? Z_FINISH : Z_SYNC_FLUSH);
    bool ok = finish ? status == Z_STREAM_END : status == Z_OK && stream.avail_in == 0;
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (!ok) {
        fail("deflate failed");
    }
    return out;
}

std::size_t stored_size(std::size_t n) { return n + 5 * ((n + 65534) / 65535); }

// A zlib stream of exactly `target` bytes: data[0, split) deflated, the rest in
// stored blocks. Searches for a split that lands on the target.
Bytes zlib_exact(const Bytes& data, std::size_t target) {
    constexpr std::size_t FRAME = 2 + 4;  // header and Adler-32
    auto size_at = [&](std::size_t split) {
        if (split == data.size()) {
            return FRAME + deflate_prefix(data, split, true).size();
        }
        return FRAME + deflate_prefix(data, split, false).size() + stored_size(data.size() - split);
    };
    if (size_at(data.size()) > target) {
        fail("the artwork no longer compresses into the fixed PNG size");
    }
    // The size grows, not strictly, as the split moves towards the start.
    std::size_t lo = 0, hi = data.size();  // size_at(lo) > target >= size_at(hi)
    if (size_at(0) <= target) {
        fail("the fixed PNG size exceeds even an uncompressed stream");
    }
    while (hi - lo > 1) {
        std::size_t mid = lo + (hi - lo) / 2;
        (size_at(mid) > target ? lo : hi) = mid;
    }
    std::size_t split = hi;
    for (std::size_t tries = 0; size_at(split) != target; ++tries) {
        if (tries == 4096 || split == 0) {
            fail("no split of the pixel stream reaches the fixed PNG size");
        }
        --split;
    }

    Bytes out = {0x78, 0xDA};  // deflate, 32 KiB window, level 9
    if (split == data.size()) {
        Bytes body = deflate_prefix(data, split, true);
        out.insert(out.end(), body.begin(), body.end());
    } else {
        Bytes body = deflate_prefix(data, split, false);
        out.insert(out.end(), body.begin(), body.end());
        for (std::size_t pos = split; pos < data.size();) {
            std::size_t n = std::min<std::size_t>(65535, data.size() - pos);
            out.push_back(pos + n == data.size() ? 1 : 0);  // BFINAL on the last, BTYPE 00
            put_u16le(out, static_cast<std::uint32_t>(n));
            put_u16le(out, static_cast<std::uint32_t>(~n & 0xFFFF));
            out.insert(out.end(), data.begin() + pos, data.begin() + pos + n);
            pos += n;
        }
    }
    put_u32be(out, static_cast<std::uint32_t>(adler32(1, data.data(), static_cast<uInt>(data.size()))));
    return out;
}

void put_chunk(Bytes& out, const char* type, const Bytes& body) {
    put_u32be(out, static_cast<std::uint32_t>(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    put_u32be(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

Bytes encode_png(const Image& image, std::size_t file_size) {
    constexpr std::size_t FIXED = 8 + (12 + 13) + 12 + 12;  // signature, IHDR, IDAT frame, IEND
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    put_u32be(ihdr, static_cast<std::uint32_t>(image.size));
    put_u32be(ihdr, static_cast<std::uint32_t>(image.size));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // depth, RGBA, deflate, adaptive filter, no interlace
    put_chunk(out, "IHDR", ihdr);
    put_chunk(out, "IDAT", zlib_exact(filtered_scanlines(image), file_size - FIXED));
    put_chunk(out, "IEND", {});
    return out;
}

// BITMAPINFOHEADER with doubled height, BGRA rows bottom-up, then the AND mask
// (1 = transparent) in rows padded to 32 bits for renderers that ignore alpha.
Bytes encode_ico_bitmap(const Image& image) {
    const int n = image.size;
    const std::uint32_t mask_stride = static_cast<std::uint32_t>((n + 31) / 32 * 4);
    const std::uint32_t pixel_bytes = static_cast<std::uint32_t>(n * n * 4);
    Bytes out;
    put_u32le(out, 40);
    put_u32le(out, static_cast<std::uint32_t>(n));
    put_u32le(out, static_cast<std::uint32_t>(2 * n));
    put_u16le(out, 1);   // planes
    put_u16le(out, 32);  // bits per pixel
    put_u32le(out, 0);   // BI_RGB
    put_u32le(out, pixel_bytes + mask_stride * n);
    for (int i = 0; i < 4; ++i) {
        put_u32le(out, 0);  // resolution and palette fields
    }
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const std::uint8_t* px = &image.rgba[(static_cast<std::size_t>(y) * n + x) * 4];
            out.insert(out.end(), {px[2], px[1], px[0], px[3]});
        }
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(mask_stride, 0);
        for (int x = 0; x < n; ++x) {
            if (image.rgba[(static_cast<std::size_t>(y) * n + x) * 4 + 3] < 128) {
                row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Bytes encode_ico(const std::vector<std::pair<int, Bytes>>& entries) {
    Bytes out;
    put_u16le(out, 0);  // reserved
    put_u16le(out, 1);  // icon
    put_u16le(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const auto& [size, data] : entries) {
        out.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));
        out.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));
        out.push_back(0);  // no palette
        out.push_back(0);
        put_u16le(out, 1);
        put_u16le(out, 32);
        put_u32le(out, static_cast<std::uint32_t>(data.size()));
        put_u32le(out, offset);
        offset += static_cast<std::uint32_t>(data.size());
    }
    for (const auto& entry : entries) {
        out.insert(out.end(), entry.second.begin(), entry.second.end());
    }
    return out;
}

bool write_file(const std::string& path, const Bytes& data) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "icon_gen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon_gen OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];

    const Bytes png = encode_png(draw(PNG_SIZE), PNG_FILE_SIZE);
    std::vector<std::pair<int, Bytes>> entries;
    for (int size : BITMAP_SIZES) {
        entries.emplace_back(size, encode_ico_bitmap(draw(size)));
    }
    entries.emplace_back(PNG_SIZE, png);

    return write_file(dir + "/icon-256.png", png) && write_file(dir + "/brand.ico", encode_ico(entries)) ? 0 : 1;
}
