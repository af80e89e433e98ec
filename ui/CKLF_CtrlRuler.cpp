#include "CKLF_CtrlRuler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const u8 kLabelTick = 15;
const f64 kTolerance = 1e-6;

struct Level {
  f64 step;  // in units
  u8 tick;   // length in pixels
};

struct Ladder {
  const Level* levels;
  u32 count;
  f64 perInch;           // units per inch (percent: 100 per image)
  const f64* grow;       // the last step's first values when it must grow, then + 5
  u32 growCount;
  const u32* spacing;    // label spacing multipliers before the + 5 run
  u32 spacingCount;
};

const Level kInches[] = {{1.0 / 32, 2}, {1.0 / 16, 3}, {1.0 / 8, 4}, {1.0 / 4, 5}, {1.0 / 2, 6}, {1, 7}};
const Level kCm[] = {{0.1, 3}, {0.5, 5}, {1, 7}};
const Level kMm[] = {{0.5, 3}, {1, 5}, {5, 6}, {10, 7}};
const f64 kGrowInchCm[] = {1, 2, 5};
const f64 kGrowMm[] = {10};
const f64 kGrowPercent[] = {1, 5};
const u32 kSpacing[] = {1, 2, 5};
const u32 kSpacingPercent[] = {1, 5};

const Ladder kLadders[] = {
    {kInches, 6, 1, kGrowInchCm, 3, kSpacing, 3},
    {kCm, 3, 2.54, kGrowInchCm, 3, kSpacing, 3},
    {kMm, 4, 25.4, kGrowMm, 1, kSpacing, 3},
    {kCm, 3, 100, kGrowPercent, 2, kSpacingPercent, 2},  // percent ticks as centimetres
};

// The first value of the list, then continuing by 5, that reaches need.
f64 Grow(const f64* first, u32 count, f64 need) {
  for (u32 i = 0; i < count; ++i)
    if (first[i] >= need) return first[i];
  const f64 last = first[count - 1];
  return last + 5 * std::ceil((need - last) / 5);
}

u32 Spacing(const u32* first, u32 count, f64 need) {
  for (u32 i = 0; i < count; ++i)
    if (first[i] >= need) return first[i];
  const u32 last = first[count - 1] < 10 ? 10 : first[count - 1];
  return need <= last ? last : static_cast<u32>(last + 5 * std::ceil((need - last) / 5));
}

}  // namespace

CKLF_CtrlRuler::CKLF_CtrlRuler()
    : m_data{klUnitPixels, 0, 0, 0, 0, 0, 0, 0, 0, 0.0}, m_font(nullptr), m_vertical(0), m_length(0), m_thickness(0) {
  m_type = klCtrlRuler;
}

CKLF_CtrlRuler::~CKLF_CtrlRuler() {}

void CKLF_CtrlRuler::Redraw() {
  if (!m_created) return;
  DrawRuler();
  CKLF_CtrlStaticImage::Redraw();
}

void CKLF_CtrlRuler::SetData(const KLF_RulerData* data, u8 redraw) {
  if (!data) return;
  m_data = *data;
  if (redraw) Redraw();
}

void CKLF_CtrlRuler::DrawRuler() {
  if (!m_created) return;
  const u32 w = m_layer.GetImageWidth(), h = m_layer.GetImageHeight();
  m_vertical = h > w;
  m_length = m_vertical ? h : w;
  m_thickness = m_vertical ? w : h;
  m_ticks.assign(m_length, 0);
  m_labels.clear();
  // Percent of a size of 0 falls back too (its steps would never reach 5 pixels).
  if (m_data.unit >= klUnitInches && m_data.unit <= klUnitPercent && m_data.resolution > 0)
    DrawRuler_RESBASED();
  else
    DrawRuler_PIX();
  i_Paint();
}

// Ticks at displayed coordinates: magnified (s > 0), every image pixel,
// every 10 and a label every 10, 20 or 50 image pixels; reduced, every 5,
// 10 and 50 ruler pixels.
void CKLF_CtrlRuler::DrawRuler_PIX() {
  const i32 s = std::clamp<i32>(m_data.zoomShift, -16, 16);
  const u32 lead = std::min<u32>(m_data.lead, m_length);
  const u32 end = std::max(lead, m_length - std::min<u32>(m_data.trail, m_length));
  const i64 fp = m_data.firstPixel;
  const i64 d0 = s > 0 ? (fp << s) + m_data.phase : fp >> -s;
  const i64 shortStep = s > 0 ? i64{1} << s : 5, middle = s > 0 ? i64{10} << s : 10;
  const i64 labelled = s > 0 ? i64{s > 2 ? 10 : s == 2 ? 20 : 50} << s : 50;
  for (u32 p = lead; p < end; ++p) {
    const i64 d = d0 + (p - lead);
    if (d % labelled == 0) {
      m_ticks[p] = kLabelTick;
      m_labels.push_back({p, s > 0 ? d >> s : fp + (static_cast<i64>(p - lead) << -s)});
    } else if (d % middle == 0) {
      m_ticks[p] = 7;
    } else if (d % shortStep == 0) {
      m_ticks[p] = 4;
    }
  }
}

// Ticks on the unit's ladder: the finest level at least 5 pixels apart, the
// last level labelled every j-th step so labels stand 50 pixels apart.
void CKLF_CtrlRuler::DrawRuler_RESBASED() {
  const Ladder& lad = kLadders[m_data.unit - klUnitInches];
  const i32 s = std::clamp<i32>(m_data.zoomShift, -16, 16);
  f64 u = lad.perInch / m_data.resolution;  // units per ruler pixel
  u = s > 0 ? u / static_cast<f64>(1 << s) : u * static_cast<f64>(1 << -s);
  if (!(u > 0) || !std::isfinite(u)) return;
  const f64 need = 5 * u;
  u32 first = 0;
  while (first < lad.count && lad.levels[first].step < need) ++first;
  f64 lastStep = lad.levels[lad.count - 1].step;
  if (first == lad.count) {
    first = lad.count - 1;
    lastStep = Grow(lad.grow, lad.growCount, need);
  }
  const i64 lastWhole = lastStep < 1e9 ? static_cast<i64>(lastStep) : 0;
  if (lastWhole < 1) return;
  const f64 finest = first == lad.count - 1 ? lastStep : lad.levels[first].step;
  i64 ratio[6];
  for (u32 i = first; i < lad.count; ++i)
    ratio[i - first] = std::llround((i + 1 == lad.count ? lastStep : lad.levels[i].step) / finest);
  const u32 levels = lad.count - first;
  const i64 perLabel = ratio[levels - 1];
  const i64 j = Spacing(lad.spacing, lad.spacingCount, 50 * u / finest / static_cast<f64>(perLabel));

  const u32 lead = std::min<u32>(m_data.lead, m_length);
  const u32 end = std::max(lead, m_length - std::min<u32>(m_data.trail, m_length));
  const i64 fp = m_data.firstPixel;
  const i64 d0 = s > 0 ? (fp << s) + m_data.phase : fp >> -s;
  i64 next = static_cast<i64>(std::ceil((static_cast<f64>(d0) * u - kTolerance) / finest));
  for (u32 p = lead; p < end; ++p) {
    if (static_cast<f64>(d0 + (p - lead)) * u < static_cast<f64>(next) * finest - kTolerance) continue;
    u32 level = levels - 1;
    while (level > 0 && next % ratio[level] != 0) --level;
    m_ticks[p] = lad.levels[level + first].tick;
    if (level == levels - 1 && (next / perLabel) % j == 0) {
      m_ticks[p] = kLabelTick;
      m_labels.push_back({p, next / perLabel * lastWhole});
    }
    ++next;
  }
}

void CKLF_CtrlRuler::i_Put(u32 along, u32 across, u8 value) {
  const u32 w = m_layer.GetImageWidth();
  u8* alpha = m_layer.GetMemObj()->GetPtr() + 3 * static_cast<u64>(w) * m_layer.GetImageHeight();
  u8* at = m_vertical ? alpha + static_cast<u64>(along) * w + across : alpha + static_cast<u64>(across) * w + along;
  *at = value;
}

// The digits' rows from the font's top line, over '0' to '9': [top, bottom).
void CKLF_CtrlRuler::i_DigitRows(i32& top, i32& bottom) {
  top = bottom = 0;
  if (!m_font || !m_font->IsOpen()) return;
  i16 ascent, descent;
  m_font->GetMaxAB(ascent, descent);
  top = 0x7FFF;
  bottom = -0x7FFF;
  for (u8 ch = '0'; ch <= '9'; ++ch) {
    i16 a, c, yOff;
    u32 gw, gh;
    if (!m_font->GetChar(ch, a, c, yOff, gw, gh) || gh == 0) continue;
    top = std::min<i32>(top, ascent + yOff);
    bottom = std::max<i32>(bottom, ascent + yOff + static_cast<i32>(gh));
  }
  if (top > bottom) top = bottom = 0;
}

void CKLF_CtrlRuler::i_Paint() {
  if (!m_layer.GetMemObj() || m_layer.GetImageMode() != 2) return;
  const u32 lead = std::min<u32>(m_data.lead, m_length);
  const u32 end = std::max(lead, m_length - std::min<u32>(m_data.trail, m_length));
  const u32 farEdge = m_thickness - std::min<u32>(m_data.farInset, m_thickness);
  const u32 band = farEdge - std::min<u32>(m_data.nearInset, farEdge);
  // The digits keep a column of their own beside the near inset: on a thin
  // ruler the ticks between labels stop a pixel short of it.
  i_DigitRows(m_digitTop, m_digitBottom);
  const u64 digits = static_cast<u64>(m_data.nearInset) + static_cast<u32>(m_digitBottom - m_digitTop) +
                     (m_digitBottom > m_digitTop ? 1 : 0);
  const u32 room = digits < farEdge ? static_cast<u32>(farEdge - digits) : 1;
  for (u32 a = 0; a < m_length; ++a) {
    u32 tick = a >= lead && a < end ? std::min<u32>(m_ticks[a], band) : 0;
    if (m_ticks[a] != kLabelTick) tick = std::min(tick, room);
    for (u32 c = 0; c < m_thickness; ++c) i_Put(a, c, c < farEdge && c + tick >= farEdge ? 255 : 0);
  }
  for (const auto& label : m_labels) DrawDigits(label.first + 2, static_cast<i32>(label.second));
  if (m_data.marker < m_length)
    for (u32 c = 0; c < m_thickness; ++c) i_Put(m_data.marker, c, c & 1 ? 255 : 0);
}

// Glyph coverage into the alpha, one pixel between glyphs, the digits' ink
// from the near inset across. A vertical ruler turns each glyph a quarter
// clockwise: the digits' foot at the near inset, their top toward the ticks.
void CKLF_CtrlRuler::DrawDigits(u32 along, i32 value) {
  if (!m_font || !m_font->IsOpen()) return;
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  i16 ascent, descent;
  m_font->GetMaxAB(ascent, descent);
  u64 pen = along;
  for (const char* ch = text; *ch; ++ch) {
    i16 a, c, yOff;
    u32 gw, gh;
    const u8* cov = m_font->GetChar(static_cast<u8>(*ch), a, c, yOff, gw, gh);
    if (!cov) continue;
    for (u32 gy = 0; gy < gh; ++gy) {
      const i32 row = ascent + yOff + static_cast<i32>(gy);
      const i64 across = m_data.nearInset + static_cast<i64>(m_vertical ? m_digitBottom - 1 - row : row - m_digitTop);
      if (across < 0 || across >= m_thickness) continue;
      for (u32 gx = 0; gx < gw && pen + gx < m_length; ++gx) {
        const u8 v = cov[gy * gw + gx];
        if (v) i_Put(static_cast<u32>(pen + gx), static_cast<u32>(across), v);
      }
    }
    pen += gw + 1;
  }
}

bool operator==(const CKLF_CtrlRuler::KLF_RulerData& a, const CKLF_CtrlRuler::KLF_RulerData& b) {
  return a.unit == b.unit && a.lead == b.lead && a.trail == b.trail && a.nearInset == b.nearInset &&
         a.farInset == b.farInset && a.zoomShift == b.zoomShift && a.firstPixel == b.firstPixel &&
         a.phase == b.phase && a.marker == b.marker && a.resolution == b.resolution;
}
