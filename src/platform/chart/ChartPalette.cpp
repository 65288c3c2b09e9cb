#include "platform/chart/ChartPalette.h"

#include <array>

namespace {

struct PaletteEntry {
    quint8 r, g, b;
};

// Entries 7 to 10 and 19 are near-white in the original palette and 14, 15 and 18 are too light
// to follow as a line on white; they are darkened stand-ins here. The greys stay apart from each
// other, and each stand-in keeps clear of its neighbours so that series can still be told apart.
constexpr std::array<PaletteEntry, kChartPaletteSize> kPalette{{
    {0, 0, 0},       // 0 black
    {128, 0, 0},     // 1 dark red
    {0, 128, 0},     // 2 dark green
    {128, 128, 0},   // 3 olive
    {0, 0, 128},     // 4 dark blue
    {128, 0, 128},   // 5 purple
    {0, 128, 128},   // 6 teal
    {112, 128, 144}, // 7 light grey: slate grey
    {80, 160, 96},   // 8 money green: sea green
    {70, 130, 180},  // 9 sky blue: steel blue
    {192, 128, 64},  // 10 cream: tan
    {160, 160, 164}, // 11 medium grey
    {128, 128, 128}, // 12 grey
    {255, 0, 0},     // 13 red
    {0, 200, 0},     // 14 green (lime): a shade darker
    {210, 175, 0},   // 15 yellow: dark yellow
    {0, 0, 255},     // 16 blue
    {255, 0, 255},   // 17 magenta
    {0, 185, 200},   // 18 cyan: a shade darker
    {64, 64, 64},    // 19 white: charcoal
}};

} // namespace

QColor chartPaletteColor(int index) {
    if (index < 0 || index >= kChartPaletteSize)
        index = 0;
    const PaletteEntry& e = kPalette[static_cast<std::size_t>(index)];
    return QColor(e.r, e.g, e.b);
}

QColor colorFromSystemValue(quint32 value) {
    switch (value >> 24) {
    case 0x00:
    case 0x02: // a palette-relative RGB: on a true-colour screen simply the RGB
        return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
    case 0x01:
        return chartPaletteColor(int(value & 0xFFFF));
    default:
        return QColor();
    }
}
