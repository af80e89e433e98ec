// The channel selection dialog without its window: the list of what the
// document offers as a map (the host's current selection, the document's
// channels by the names the host gives, else the colour channels of the
// mode and the layer transparency), the map of the chosen item read from
// the host over the filter area, the preview's alpha scaled from it, and
// how the map combines with the current selection (New, Add, Subtract,
// Intersect, inverted or not). The caller hands the result to the piece
// or knife selection (CPuzzleModel::pmop_LoadSelection,
// CLayoutSelection::SelectFromChannel).
//
// Cost: the map is one byte a pixel of the filter area, and a read needs
// as much again while it runs. Limits: filter areas up to 65535 a side.
#pragma once

#include "CKLF_Array.h"
#include "CKLF_Mem.h"

class CChannelListModel : public CKLF_FrameWork {
 public:
  enum : u8 { kNew = 0, kAdd = 1, kSubtract = 2, kIntersect = 3 };
  static constexpr i32 kCurrentSelection = -1;

  // What the list is made from and read through: the plug-in's adapter
  // (its plug-in data, channel names and plane reads) in the plug-in.
  class Source {
   public:
    virtual ~Source() {}
    struct FACTS {
      u8 colorKind;     // 0 gray, 1 RGB, 2 CMYK
      u8 planes;        // colour planes, plus 1 with transparency
      u8 transparency;
      u8 selection;     // a selection limits the filter
      u8 hostMask;      // the host gives the selection mask (plane 255)
      u32 width;        // the filter area
      u32 height;
    };
    virtual FACTS Facts() const = 0;
    // The names of the document's channels when the host gives them (0).
    virtual u32 NameCount() const = 0;
    virtual const char* Name(u32 index) const = 0;
    // A plane over the filter area (plane 255: the selection mask), or a
    // channel by its absolute number: 1, or 0 when the host refuses.
    virtual u8 ReadPlane(u8 plane, u8* map, u32 stride) = 0;
    virtual u8 ReadChannel(u8 channel, u8* map, u32 stride) = 0;
  };

  explicit CChannelListModel(Source& source) : mode(kNew), invert(0), combineAllowed(0), m_source(source), m_facts() {}

  // Fills the list (names and their values) and sizes the map (255
  // everywhere). 0 with error 17 when the map cannot be had, 2 for an
  // empty filter area.
  u8 Open();
  u32 Count() const { return m_items.GetSize(); }
  // The item's text, or null past the list.
  const char* Item(u32 index) const;
  // What the item reads: kCurrentSelection, or a plane or channel number.
  i32 Value(u32 index) const;

  // Reads the item's map; 0 (the map as it was) when the host refuses,
  // with error 1 for an index past the list.
  u8 Select(u32 index);
  const u8* Map() const { return m_map.GetPtr(); }
  u32 Width() const { return m_facts.width; }
  u32 Height() const { return m_facts.height; }

  // The preview's alpha (width x height, rows of stride): the map scaled
  // to it by nearest neighbours, then 0 where a pixel selects (Selects)
  // and 255 elsewhere, so that a colour under it covers what selects
  // nothing and the preview shows exactly what OK selects.
  u8 PreviewAlpha(u8* alpha, u32 stride, u16 width, u16 height);
  // The matching rule of the piece and knife selections: a map value
  // below 128 selects, or with invert one of 128 and above.
  static u8 Selects(u8 value, u8 invert) { return (invert ? 255 - value : value) < 128 ? 1 : 0; }

  // Whether Add, Subtract and Intersect may be chosen.
  u8 IsModeEnabled(u8 m) const { return m == kNew || combineAllowed; }

  u8 mode;
  u8 invert;
  u8 combineAllowed;  // some pieces (or knives) are selected

 private:
  Source& m_source;
  Source::FACTS m_facts;
  CKLF_StringArray m_items;
  CKLF_Mem m_map;
  CKLF_Mem m_read;
};
