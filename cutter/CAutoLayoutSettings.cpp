#include "CAutoLayoutSettings.h"

#include "CLayoutAutoLayout.h"
#include "KLF_EditLineValue.h"

const char CAutoLayoutSettings::kFolder[] = "Auto Layout Settings";

u32 CAutoLayoutSettings::RowLimit() const {
  return shape == kHexagons ? CLayoutAutoLayout::kMaxHexagonRows : CLayoutAutoLayout::kMaxTriangleRows;
}

u32 CAutoLayoutSettings::ColumnLimit() const {
  return shape == kHexagons ? CLayoutAutoLayout::kMaxHexagonColumns : CLayoutAutoLayout::kMaxTrianglesPerRow;
}

void CAutoLayoutSettings::SetShape(u8 s) {
  shape = s == kHexagons ? kHexagons : kTriangles;
  Clamp();
}

void CAutoLayoutSettings::Clamp() {
  const u32 r = RowLimit(), c = ColumnLimit();
  rows = rows < 1 ? 1 : (rows > r ? r : rows);
  columns = columns < 1 ? 1 : (columns > c ? c : columns);
}

u32 CAutoLayoutSettings::CountOfText(const char* text, u32 limit) { return klEditLineValueIn(text, 1, limit); }

u8 CAutoLayoutSettings::Load(CKLF_Storage* conf) {
  if (conf) {
    u8 s = shape, r = regular;
    if (!conf->GetOptional("Auto Layout Settings>Rows", rows) || !conf->GetOptional("Auto Layout Settings>Cols", columns) ||
        !conf->GetOptional("Auto Layout Settings>Shape", s) || !conf->GetOptional("Auto Layout Settings>Regular", r))
      return FailFrom(*conf, klErrNoMemory);
    shape = s;
    regular = r ? 1 : 0;
  }
  SetShape(shape);
  return 1;
}

u8 CAutoLayoutSettings::Save(CKLF_Storage* conf) {
  if (!conf) return Fail(klErrEmpty);
  if ((conf->GetRecType(kFolder) != CKLF_Storage::klRecFolder && !conf->AddFolder(kFolder)) ||
      !conf->SetRecord("Auto Layout Settings>Rows", rows) || !conf->SetRecord("Auto Layout Settings>Cols", columns) ||
      !conf->SetRecord("Auto Layout Settings>Shape", shape) ||
      !conf->SetRecord("Auto Layout Settings>Regular", static_cast<u8>(regular ? 1 : 0)))
    return FailFrom(*conf, klErrFileWrite);
  return 1;
}

void CAutoLayoutSettings::Apply(CCutterMainPort* main) const {
  if (!main) return;
  if (shape == kHexagons)
    main->AutoLayout_Hexagons(rows, columns, regular);
  else
    main->AutoLayout_Triangles(rows, columns, regular);
}
