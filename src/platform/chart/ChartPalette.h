#pragma once

#include <QColor>
#include <QtGlobal>

// Colours of chart series as the system stores them: a 32-bit value that is either an RGB triple
// 0x00BBGGRR or, with the top byte 0x01, an index into the default 20-colour palette of the
// original platform (0x01000000 | index, the index in the low 16 bits).

inline constexpr int kChartPaletteSize = 20;
inline constexpr quint32 kPaletteIndexFlag = 0x01000000u;

// The colour the chart draws for palette entry `index` (0..19). The entries keep the order of the
// original palette, but every one of them must be readable as a 3-pixel line on the chart's white
// plot area, so the white and near-white entries (and the glaring yellow, lime and cyan) are
// replaced by darker colours of a similar hue. An index outside the table draws black, the first
// entry, so that a series coloured by an overflowing index still shows.
QColor chartPaletteColor(int index);

// The colour a system colour value stands for. Values of another kind than RGB or palette index
// (the "default" and "none" markers of the original toolkit, system colours) give an invalid
// QColor: the caller keeps the colour it had.
QColor colorFromSystemValue(quint32 value);
