// Live display without GL: the trace vertex lists that the render loop draws, the level bar's
// decibel scale, and the level meter painted into a real GDI memory device context.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "display/level_meter.h"
#include "display/meter_width.h"
#include "display/meter_scale.h"
#include "display/spectrogram.h"
#include "display/trace_vertices.h"
#include "display/waveform_columns.h"
#include "recording/live_state.h"

struct ColumnCase {
    const char* what;
    std::vector<int16_t> samples;
    size_t columns;
    std::vector<ColumnRows> expected;
};

TEST(WaveformColumns, SpanEachColumnFromItsLowestToItsHighestSample) {
    const ColumnCase cases[] = {
        {"fewer than two samples", {100}, 4, {}},
        {"one sample per column, joined to the one before",
         {0, 16384, -16384, -16384},
         4,
         {{40, 40}, {40, 60}, {20, 60}, {20, 20}}},
        {"two samples per column", {-32768, 32767, 0, 0}, 2, {{0, 79}, {40, 79}}},
        {"fewer samples than columns repeat without a line of their own", {0, 32767}, 4, {{40, 40}, {40, 40}, {40, 79}, {79, 79}}},
        {"a click in silence at its full height", {0, 0, 0, 0, -32768, 0, 0, 0, 0}, 3, {{40, 40}, {0, 40}, {40, 40}}},
        {"a steady swing fills each column", {16383, -16384, 16383, -16384}, 2, {{20, 59}, {20, 59}}},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<ColumnRows> columns = waveformColumns(c.samples, c.columns, 80);
        ASSERT_EQ(columns.size(), c.expected.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            EXPECT_EQ(columns[i].low, c.expected[i].low) << "column " << i;
            EXPECT_EQ(columns[i].high, c.expected[i].high) << "column " << i;
        }
    }
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
constexpr uint32_t PEAK = 0x000046FF;
constexpr uint32_t CLIP_RED = 0x00DC0000;
constexpr int CANVAS_WIDTH = 1300;
constexpr int CANVAS_HEIGHT = 44;
// A meter whose bar's scale is 1160 pixels wide, so the worked widths apply; the bar's rows.
constexpr int METER_WIDTH = 1160 + CLIP_BOX_WIDTH + CLIP_BOX_GAP;
constexpr int BAR_ROWS = 18;

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

// Returns how many pixels of row y, from x0 to x1 (excluded), have the colour.
int countInRow(const MemoryCanvas& canvas, int y, int x0, int x1, uint32_t colour) {
    int count = 0;
    for (int x = x0; x < x1; ++x) count += canvas.at(x, y) == colour;
    return count;
}

TEST(LevelMeter, PaintsTheWorkedBarWidths) {
    const RECT item{20, 2, 20 + METER_WIDTH, 42};
    const uint32_t window = dibColour(GetSysColor(COLOR_WINDOW));
    ASSERT_NE(window, BAR);
    resetPeakMarker();
    inputPeak.store(0.0f);
    clippedSamples.store(0);
    for (const MeterCase& c : METER_CASES) {
        SCOPED_TRACE(c.level);
        MemoryCanvas canvas;
        ASSERT_TRUE(canvas.ready());
        inputLevel.store(c.level);
        ASSERT_EQ(paintMeter(canvas, item), 1);
        for (int y = item.top; y < item.top + BAR_ROWS; ++y)
            for (int x = 0; x < 20 + 1160; ++x) {
                const uint32_t expected = x < item.left ? MAGENTA : x < item.left + c.width ? BAR : window;
                ASSERT_EQ(canvas.at(x, y), expected) << "at " << x << ", " << y;
            }
        // Nothing outside the item; no bar colour below the bar's rows.
        for (int x = 0; x < CANVAS_WIDTH; ++x) {
            ASSERT_EQ(canvas.at(x, 0), MAGENTA);
            ASSERT_EQ(canvas.at(x, 43), MAGENTA);
        }
        for (int y = item.top + BAR_ROWS; y < item.bottom; ++y) ASSERT_EQ(countInRow(canvas, y, 0, CANVAS_WIDTH, BAR), 0);
    }
}

TEST(LevelMeter, ShowsTicksLabelsThePeakMarkerAndTheClipIndicator) {
    const RECT item{0, 0, METER_WIDTH, 40};
    const uint32_t window = dibColour(GetSysColor(COLOR_WINDOW));
    resetPeakMarker();
    clippedSamples.store(0);
    inputLevel.store(0.1f);
    inputPeak.store(0.5f);  // -6 dB: the marker ends where the bar of level 0.5 would, 1043
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    ASSERT_EQ(paintMeter(canvas, item), 1);
    EXPECT_EQ(inputPeak.load(), 0.0f) << "the meter takes the published peak";
    EXPECT_EQ(countInRow(canvas, 5, 0, 1160, PEAK), 3);
    EXPECT_EQ(canvas.at(1042, 5), PEAK);
    EXPECT_EQ(canvas.at(1040, 5), PEAK);
    EXPECT_EQ(canvas.at(772, 5), BAR);
    // A tick under the bar at every 10 dB and at -6 and -3 dB: 9 of them, and text under them.
    int ticks = 0;
    for (int x = 0; x < 1160; ++x) ticks += canvas.at(x, BAR_ROWS + 2) != window;
    EXPECT_EQ(ticks, 9);
    int text = 0;
    for (int y = BAR_ROWS + 5; y < 40; ++y) text += 1160 - countInRow(canvas, y, 0, 1160, window);
    EXPECT_GT(text, 60) << "the labels are drawn";
    // Clean so far: the indicator is not red.
    EXPECT_EQ(countInRow(canvas, 20, METER_WIDTH - CLIP_BOX_WIDTH, METER_WIDTH, CLIP_RED), 0);
    // A clipped sample lights it, and the peak is held, not replaced by a lower one.
    clippedSamples.store(3);
    inputPeak.store(0.1f);
    ASSERT_EQ(paintMeter(canvas, item), 1);
    EXPECT_GT(countInRow(canvas, 38, METER_WIDTH - CLIP_BOX_WIDTH, METER_WIDTH, CLIP_RED), CLIP_BOX_WIDTH / 2);
    EXPECT_EQ(canvas.at(1042, 5), PEAK);
    EXPECT_TRUE(peakMarkerShowing(GetTickCount64()));
    clippedSamples.store(0);
    resetPeakMarker();
    EXPECT_FALSE(peakMarkerShowing(GetTickCount64()));
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
    EXPECT_EQ(paintMeter(canvas, RECT{0, 0, METER_WIDTH, 20}, id), 1);
    EXPECT_EQ(canvas.at(1159, 10), BAR);
}

TEST(LevelMeter, ReleasesItsBrushOnEveryPaint) {
    // GDI's handle table is finite (about 65500 objects per process under Wine, 10000 by
    // default on Windows): a brush kept per paint would run it dry, after which no brush can be
    // made and no bar painted.
    // NOTE: Wine's GetGuiResources is a stub that always answers 0, so the count cannot be asked.
    MemoryCanvas canvas;
    ASSERT_TRUE(canvas.ready());
    const RECT item{0, 0, METER_WIDTH, 40};
    inputLevel.store(1.0f);
    clippedSamples.store(1);  // the indicator's brush and the labels' font too
    for (int paint = 0; paint < 70000; ++paint) ASSERT_EQ(paintMeter(canvas, item), 1);
    clippedSamples.store(0);
    inputLevel.store(0.5f);
    ASSERT_EQ(paintMeter(canvas, item), 1);
    EXPECT_EQ(canvas.at(1042, 10), BAR);
    EXPECT_EQ(canvas.at(1043, 10), dibColour(GetSysColor(COLOR_WINDOW)));
    HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_NE(probe, nullptr) << "the handle table ran dry";
    if (probe) DeleteObject(probe);
}

struct PeakCase {
    uint64_t ms;     // after the peak of -6 dB was seen at 1000 ms
    float marker;    // where the marker stands
    bool onScale;
};

TEST(PeakHold, HoldsOneAndAHalfSecondsThenFallsTwentyDecibelsASecond) {
    const PeakHold hold = takePeak(PeakHold{}, 0.5f, 1000);
    const PeakCase cases[] = {
        {1000, -6.0206f, true},  {2500, -6.0206f, true},  {2600, -8.0206f, true},
        {3500, -26.0206f, true}, {5198, -59.9806f, true}, {5199, -60.0006f, false},
    };
    for (const PeakCase& c : cases) {
        SCOPED_TRACE(c.ms);
        EXPECT_NEAR(markerDb(hold, c.ms), c.marker, 1e-3f);
        EXPECT_EQ(markerOnScale(hold, c.ms), c.onScale);
    }
    // A lower peak while the marker holds leaves it; one at or above where it stands takes over.
    EXPECT_EQ(takePeak(hold, 0.25f, 2000).seenAtMs, 1000u);
    EXPECT_EQ(takePeak(hold, 0.25f, 3000).seenAtMs, 3000u);  // the marker has fallen to -16 dB
    EXPECT_EQ(takePeak(hold, 1.0f, 1200).peakDb, 0.0f);
    // Silence and a NaN never raise it.
    EXPECT_EQ(takePeak(PeakHold{}, 0.0f, 5).peakDb, -200.0f);
    EXPECT_FALSE(markerOnScale(takePeak(PeakHold{}, std::numeric_limits<float>::quiet_NaN(), 5), 5));
}

TEST(MeterScale, TicksStandOnTheBarsOwnScale) {
    // Where the ticks stand (the painted meter shows all nine), on the bar's own scale: -20 dB where a level of 0.1 ends, 0 dB at the full width.
    EXPECT_EQ(scaleOffset(-20.0f, 1160), 773);
    EXPECT_EQ(scaleOffset(0.0f, 1160), 1160);
    EXPECT_EQ(scaleOffset(-60.0f, 1160), 0);
    EXPECT_EQ(barAreaWidth(METER_WIDTH), 1160);
    EXPECT_EQ(barAreaWidth(10), 0);
}

TEST(SpectrogramAxis, PutsFrequenciesOnTheirLogRows) {
    const struct {
        double hz;
        int32_t rate;
        int rows;
        int row;
    } cases[] = {
        {20.0, 48000, 200, 0},      {24000.0, 48000, 200, 200}, {19.9, 48000, 200, -1},
        {1000.0, 48000, 200, 110},  {100.0, 48000, 200, 45},    {10000.0, 48000, 200, 175},
        {1000.0, 8000, 200, 147},   {30000.0, 48000, 200, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
        EXPECT_EQ(frequencyRow(c.hz, c.rate, c.rows), c.row);
    }
    EXPECT_EQ(gridFrequencies(48000), (std::vector<double>{100.0, 1000.0, 10000.0}));
    EXPECT_EQ(gridFrequencies(16000), (std::vector<double>{100.0, 1000.0}));
}

TEST(SpectrogramAxis, RowsTakeTheLoudestBinOfTheirBand) {
    // 2049 bins from 0 to 24000 Hz: bin k at k x 11.72 Hz. One loud bin near 1 kHz (85.33: bin 85).
    std::vector<float> levels(2049, -120.0f);
    levels[85] = -20.0f;
    const std::vector<float> rows = rowLevels(levels, 48000, 200);
    ASSERT_EQ(rows.size(), 200u);
    const int row = frequencyRow(85 * 48000.0 / 4096, 48000, 200);
    EXPECT_EQ(rows[static_cast<size_t>(row)], -20.0f);
    for (int r = 0; r < 200; ++r) {
        if (r == row) continue;
        ASSERT_LT(rows[static_cast<size_t>(r)], -20.0f) << r;
    }
    // Low rows narrower than a bin take the level between the bins around their middle.
    std::vector<float> ramp(2049);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = -static_cast<float>(k);
    const std::vector<float> low = rowLevels(ramp, 48000, 200);
    EXPECT_NEAR(low[0], -20.35 / (48000.0 / 4096), 0.01);
}

TEST(SpectrogramColour, RunsFromDarkToBrightWithLightnessRisingAllTheWay) {
    EXPECT_EQ(levelColour(-100.0f), (Rgb8{0, 0, 4}));
    EXPECT_EQ(levelColour(-150.0f), (Rgb8{0, 0, 4}));
    EXPECT_EQ(levelColour(std::numeric_limits<float>::quiet_NaN()), (Rgb8{0, 0, 4}));
    EXPECT_EQ(levelColour(0.0f), (Rgb8{252, 255, 164}));
    EXPECT_EQ(levelColour(6.0f), (Rgb8{252, 255, 164}));
    EXPECT_EQ(levelColour(-50.0f), (Rgb8{188, 55, 84}));
    double previous = -1.0;
    for (int db = -100; db <= 0; ++db) {
        const Rgb8 c = levelColour(static_cast<float>(db));
        const double lightness = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
        ASSERT_GT(lightness, previous) << db << " dB";
        previous = lightness;
        ASSERT_FALSE(c == SPECTROGRAM_GRID);
    }
}

TEST(SpectrogramImage, PlacesTheNewestColumnAtTheRightAndLeavesGapsDark) {
    // Columns of 1 kHz at -20 dBFS, one every 1440 samples at 48 kHz, for the first 2 s of a recording.
    std::deque<SpectrogramColumn> columns;
    std::vector<float> levels(2049, -200.0f);
    levels[85] = -20.0f;
    for (uint64_t end = 1440; end <= 96000; end += 1440) columns.push_back(spectrogramColumn(end, 48000, levels, 200));
    const int row = frequencyRow(85 * 48000.0 / 4096, 48000, 200);
    const std::vector<uint8_t> image = spectrogramImage(columns, 48000, 1100, 200);
    ASSERT_EQ(image.size(), 1100u * 200u * 3u);
    const auto at = [&](int x, int y) {
        const size_t i = (static_cast<size_t>(y) * 1100 + x) * 3;
        return Rgb8{image[i], image[i + 1], image[i + 2]};
    };
    const Rgb8 tone = levelColour(-20.0f);
    const Rgb8 dark = levelColour(-100.0f);
    // 2 s of 10 s: the right 220 columns carry the tone, the rest is dark; the grid is dashed.
    for (int x : {1099, 1003, 885}) EXPECT_EQ(at(x, row), tone) << x;  // off the dashes
    for (int x : {803, 501, 4}) EXPECT_EQ(at(x, row), dark) << x;
    for (int y : {0, 20, 199}) EXPECT_EQ(at(1099, y), dark) << y;
    const int grid = frequencyRow(100.0, 48000, 200);
    EXPECT_EQ(at(0, grid), SPECTROGRAM_GRID);
    EXPECT_EQ(at(5, grid), dark);
    // No columns at all: the axes alone.
    const std::vector<uint8_t> empty = spectrogramImage({}, 48000, 1100, 200);
    size_t gridPixels = 0;
    for (size_t i = 0; i < empty.size(); i += 3) gridPixels += empty[i] == 128;
    EXPECT_EQ(gridPixels, 3u * 414u);  // three lines, 3 pixels in every 8 of 1100
}
