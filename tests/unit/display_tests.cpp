// Live display without GL: the trace vertex lists that the render loop draws, the level bar's
// decibel scale, and the level meter painted into a real GDI memory device context.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "display/level_meter.h"
#include "display/meter_width.h"
#include "display/trace_vertices.h"
#include "recording/live_state.h"

namespace {

// Returns n samples whose value tells their index: sample i is i - 32768.
std::vector<int16_t> indexedSamples(size_t n) {
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(static_cast<int>(i % 65536) - 32768);
    return samples;
}

// Returns the sample index that an indexed sample's vertex height stands for.
long indexOfHeight(float y) { return std::lround(static_cast<double>(y) * 32768.0 + 32768.0); }

}  // namespace

struct WaveformCase {
    size_t samples;
    size_t vertices;
    size_t step;
    size_t lastIndex;
    float lastX;
};

TEST(WaveformVertices, DecimateByTheColumnCount) {
    const WaveformCase cases[] = {
        {2, 2, 1, 1, 0.0f},
        {1000, 1000, 1, 999, 0.998f},
        {1160, 1160, 1, 1159, 0.99827588f},
        {2319, 2319, 1, 2318, 0.99913752f},
        {2320, 1160, 2, 2318, 0.99827588f},
        {65536, 1171, 56, 65520, 0.99951172f},
    };
    for (const WaveformCase& c : cases) {
        SCOPED_TRACE(c.samples);
        const std::vector<TraceVertex> vertices = waveformVertices(indexedSamples(c.samples));
        ASSERT_EQ(vertices.size(), c.vertices);
        EXPECT_EQ(vertices.front().x, -1.0f);
        EXPECT_EQ(indexOfHeight(vertices.front().y), 0);
        EXPECT_NEAR(vertices.back().x, c.lastX, 1e-7f);
        EXPECT_EQ(indexOfHeight(vertices.back().y), static_cast<long>(c.lastIndex));
        for (size_t k = 1; k < vertices.size(); ++k) {
            ASSERT_EQ(indexOfHeight(vertices[k].y), static_cast<long>(k * c.step)) << k;
            ASSERT_GT(vertices[k].x, vertices[k - 1].x) << k;
            ASSERT_LT(vertices[k].x, 1.0f) << k;
        }
    }
}

TEST(WaveformVertices, FewerThanTwoSamplesGiveNoStrip) {
    EXPECT_TRUE(waveformVertices({}).empty());
    EXPECT_TRUE(waveformVertices({12345}).empty());
}

TEST(WaveformVertices, ScaleTheFullSampleRangeToTheHeight) {
    const std::vector<TraceVertex> vertices = waveformVertices({-32768, 32767, 0, -16384});
    ASSERT_EQ(vertices.size(), 4u);
    EXPECT_EQ(vertices[0].y, -1.0f);
    EXPECT_FLOAT_EQ(vertices[1].y, 0.99996948f);
    EXPECT_LT(vertices[1].y, 1.0f);
    EXPECT_EQ(vertices[2].y, 0.0f);
    EXPECT_EQ(vertices[3].y, -0.5f);
    EXPECT_EQ(vertices[1].x, -0.5f);
    EXPECT_EQ(vertices[2].x, 0.0f);
    EXPECT_EQ(vertices[3].x, 0.5f);
}

TEST(SpectrumVertices, OneUnscaledVertexPerValue) {
    std::vector<float> spectrum(4096);
    for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i) / 4095.0f;
    const std::vector<TraceVertex> vertices = spectrumVertices(spectrum);
    ASSERT_EQ(vertices.size(), 4096u);
    EXPECT_EQ(vertices.front().x, -1.0f);
    EXPECT_NEAR(vertices.back().x, 0.99951172f, 1e-7f);
    EXPECT_EQ(vertices[2048].x, 0.0f);
    for (size_t i = 0; i < vertices.size(); ++i) ASSERT_EQ(vertices[i].y, spectrum[i]) << i;
    EXPECT_EQ(vertices.back().y, 1.0f);
}

TEST(SpectrumVertices, OneValueGivesOneVertexAndNoneGiveNothing) {
    const std::vector<TraceVertex> single = spectrumVertices({0.25f});
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].x, -1.0f);
    EXPECT_EQ(single[0].y, 0.25f);
    EXPECT_TRUE(spectrumVertices({}).empty());
}

struct MeterCase {
    float level;
    float fraction;
    int width;
};

// The worked values of the 1160-pixel meter.
const MeterCase METER_CASES[] = {
    {0.0f, 0.0f, 0},           {0.001f, 0.0000014f, 0},  {0.002f, 0.1003441f, 116},
    {0.01f, 0.3333335f, 386},  {0.1f, 0.6666667f, 773},  {0.5f, 0.8996567f, 1043},
    {0.9f, 0.9847475f, 1142},  {1.0f, 1.0f, 1160},
};

TEST(LevelBarWidth, FollowsTheDecibelScale) {
    for (const MeterCase& c : METER_CASES) {
        SCOPED_TRACE(c.level);
        EXPECT_NEAR(levelFraction(c.level), c.fraction, 2e-7f);
        EXPECT_EQ(levelBarWidth(c.level, 1160), c.width);
    }
}

TEST(LevelBarWidth, StaysInsideTheItem) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float level;
        int itemWidth;
        int width;
    } cases[] = {
        {2.0f, 1160, 1160},  // above 0 dB: limited to the full bar
        {1e30f, 1160, 1160},
        {-0.5f, 1160, 0},    // no real level is negative; the logarithm gives NaN
        {nan, 1160, 0},
        {1.0f, 0, 0},        // an empty item has no bar
        {1.0f, -40, 0},      // an inverted item has no bar either
        {0.1f, 1, 0},
        {1.0f, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.level << " on " << c.itemWidth);
        EXPECT_EQ(levelBarWidth(c.level, c.itemWidth), c.width);
    }
}

namespace {

constexpr uint32_t MAGENTA = 0x00FF00FF;
constexpr uint32_t BAR = 0x0000C800;
constexpr int CANVAS_WIDTH = 1200;
constexpr int CANVAS_HEIGHT = 40;

// Returns a COLORREF as the 0x00RRGGBB value a 32-bit DIB stores.
uint32_t dibColour(COLORREF colour) {
    return (static_cast<uint32_t>(GetRValue(colour)) << 16) | (static_cast<uint32_t>(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

// A 32-bit top-down DIB selected into a memory device context, filled with magenta.
class MemoryCanvas {
public:
    MemoryCanvas() {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = CANVAS_WIDTH;
        info.bmiHeader.biHeight = -CANVAS_HEIGHT;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<uint32_t*>(bits);
        if (dc_ && bitmap_) previous_ = SelectObject(dc_, bitmap_);
        for (int i = 0; pixels_ && i < CANVAS_WIDTH * CANVAS_HEIGHT; ++i) pixels_[i] = MAGENTA;
    }
    ~MemoryCanvas() {
        if (previous_) SelectObject(dc_, previous_);
        if (bitmap_) DeleteObject(bitmap_);
        if (dc_) DeleteDC(dc_);
    }
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;

    bool ready() const { return dc_ && bitmap_ && pixels_ && previous_; }
    HDC dc() const { return dc_; }
    // Returns the pixel at (x, y) once GDI has finished drawing.
    uint32_t at(int x, int y) const {
        GdiFlush();
        return pixels_[y * CANVAS_WIDTH + x] & 0x00FFFFFF;
    }
    // Returns how many pixels of the canvas are not magenta.
    int paintedPixels() const {
        GdiFlush();
        int count = 0;
        for (int i = 0; i < CANVAS_WIDTH * CANVAS_HEIGHT; ++i) count += (pixels_[i] & 0x00FFFFFF) != MAGENTA;
        return count;
    }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* pixels_ = nullptr;
};

// Sends the meter one draw request for item on canvas, with control identifier id.
LRESULT paintMeter(const MemoryCanvas& canvas, RECT item, WPARAM id = 3) {
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_STATIC;
    draw.CtlID = static_cast<UINT>(id);
    draw.itemAction = ODA_DRAWENTIRE;
    draw.hDC = canvas.dc();
    draw.rcItem = item;
    return paintLevelMeter(id, reinterpret_cast<LPARAM>(&draw));
}

}  // namespace

TEST(LevelMeter, PaintsTheWorkedBarWidths) {
    const RECT item{20, 10, 20 + 1160, 30};
    const uint32_t window = dibColour(GetSysColor(COLOR_WINDOW));
    ASSERT_NE(window, BAR);
    for (const MeterCase& c : METER_CASES) {
        SCOPED_TRACE(c.level);
        MemoryCanvas canvas;
        ASSERT_TRUE(canvas.ready());
        inputLevel.store(c.level);
        ASSERT_EQ(paintMeter(canvas, item), 1);
        for (int y = 0; y < CANVAS_HEIGHT; ++y) {
            int barPixels = 0;
            for (int x = 0; x < CANVAS_WIDTH; ++x) {
                const bool inItem = x >= item.left && x < item.right && y >= item.top && y < item.bottom;
                const uint32_t expected = !inItem ? MAGENTA : x < item.left + c.width ? BAR : window;
                ASSERT_EQ(canvas.at(x, y), expected) << "at " << x << ", " << y;
                barPixels += canvas.at(x, y) == BAR;
            }
            if (y >= item.top && y < item.bottom) {
                ASSERT_EQ(barPixels, c.width) << "row " << y;
            }
        }
    }
}

TEST(LevelMeter, ErasesTheEarlierBar) {
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    const RECT item{0, 0, 1160, 20};
    inputLevel.store(1.0f);
    ASSERT_EQ(paintMeter(canvas, item), 1);
    inputLevel.store(0.1f);
    ASSERT_EQ(paintMeter(canvas, item), 1);
    EXPECT_EQ(canvas.at(772, 5), BAR);
    EXPECT_EQ(canvas.at(773, 5), dibColour(GetSysColor(COLOR_WINDOW)));
    EXPECT_EQ(canvas.at(1159, 5), dibColour(GetSysColor(COLOR_WINDOW)));
}

TEST(LevelMeter, EmptyItemGetsNoBar) {
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    inputLevel.store(1.0f);
    EXPECT_EQ(paintMeter(canvas, RECT{30, 5, 30, 25}), 1);
    EXPECT_EQ(canvas.paintedPixels(), 0);
}

TEST(LevelMeter, OtherControlsAreLeftAlone) {
    inputLevel.store(1.0f);
    for (WPARAM id : {WPARAM{0}, WPARAM{1}, WPARAM{2}, WPARAM{4}, WPARAM{1101}, WPARAM{1102}, WPARAM{0x10003}}) {
        SCOPED_TRACE(id);
        MemoryCanvas canvas;
        ASSERT_TRUE(canvas.ready());
        EXPECT_EQ(paintMeter(canvas, RECT{0, 0, 1160, 20}, id), 0);
        EXPECT_EQ(canvas.paintedPixels(), 0);
    }
}

TEST(LevelMeter, ReadsOnlyTheLow32BitsOfTheIdentifier) {
    if (sizeof(WPARAM) < 8) GTEST_SKIP() << "WPARAM has no high bits here";
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    inputLevel.store(1.0f);
    const WPARAM id = (static_cast<WPARAM>(1) << 32) | 3;
    EXPECT_EQ(paintMeter(canvas, RECT{0, 0, 1160, 20}, id), 1);
    EXPECT_EQ(canvas.at(1159, 19), BAR);
}

TEST(LevelMeter, ReleasesItsBrushOnEveryPaint) {
    // GDI's handle table is finite (about 65500 objects per process under Wine, 10000 by
    // default on Windows): a brush kept per paint would run it dry, after which no brush can be
    // made and no bar painted.
    // NOTE: Wine's GetGuiResources is a stub that always answers 0, so the count cannot be asked.
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    const RECT item{0, 0, 1160, 20};
    inputLevel.store(1.0f);
    for (int paint = 0; paint < 70000; ++paint) ASSERT_EQ(paintMeter(canvas, item), 1);
    inputLevel.store(0.5f);
    ASSERT_EQ(paintMeter(canvas, item), 1);
    EXPECT_EQ(canvas.at(1042, 10), BAR);
    EXPECT_EQ(canvas.at(1043, 10), dibColour(GetSysColor(COLOR_WINDOW)));
    HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_NE(probe, nullptr) << "the handle table ran dry";
    if (probe) DeleteObject(probe);
}
