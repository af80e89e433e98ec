#include "CWndFX_ImageOverlay.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "CKLF_App.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CPluginMain.h"
#include "CWnd_LayersList.h"

namespace {

typedef CTessarette::SFX_IMAGEOVERLAY Overlay;

const CFXParamSet::DESC kOpacity =
    CFXParamSet::Make("FXiovr_Opacity", "FXiovr_Opacity2", "FXiovr_Opacity", nullptr, "FXiovr_RangeOpacity",
                      {offsetof(Overlay, opacity), CFXSpread::kU8, 0, 255}, 0, 100, 1, CFXSchedule::kAtOnce);
// The source menu's place in the window.
const i16 kMenuX = 87, kMenuY = 209;
const char kFilteredKey[] = "DocLayers Settings>ShowFiltered";

}  // namespace

CWndFX_ImageOverlay::CWndFX_ImageOverlay()
    : CWndFX_Base("iovr", 9),
      m_opacity(kOpacity),
      m_choose(nullptr),
      m_overlay(nullptr),
      m_source(nullptr),
      m_area(klNullRect),
      m_picker(nullptr) {
  AddParamSet(&m_opacity);
  SetInitNotifies(1);
}

CWndFX_ImageOverlay::~CWndFX_ImageOverlay() {}

CTessarette::SFX_IMAGEOVERLAY& CWndFX_ImageOverlay::i_Value(u8 which) {
  return *reinterpret_cast<Overlay*>(Records().GetValue(which ? 1 : 0));
}

u8 CWndFX_ImageOverlay::OnCreateControls() {
  if (!CWndFX_Base::OnCreateControls() || !(m_choose = AddNamed<CKLF_CtrlButton>("FXiovr_ChooseImage", klCtrlButton)) ||
      !(m_overlay = AddNamed<CKLF_CtrlStaticImage>("FXiovr_Object2", klCtrlStaticImage)) ||
      !(m_source = AddNamed<CKLF_CtrlStaticText>("FXiovr_CurrentImage", klCtrlStaticText)))
    return 0;
  m_choose->SetMenuMode(1);
  m_overlay->GetControlLayer()->SetVisible(0);
  m_source->SetFont(GetInfoFont());
  m_source->SetText("", 3, 0, 12);
  return 1;
}

// The pictures themselves show, one over the other, instead of an
// effect's result.
void CWndFX_ImageOverlay::OnCreated() {
  ResultLayer().SetVisible(0);
  SampleImage()->GetControlLayer()->SetVisible(1);
  m_overlay->GetControlLayer()->SetVisible(1);
}

u8 CWndFX_ImageOverlay::OnPreparePieces() {
  if (!CWndFX_Base::OnPreparePieces()) return 0;
  CTessarette& engine = mainWindow->GetEngine();
  CKLF_DWordArray& pieces = *Records().GetPieces();
  m_area = engine.GetPiece(pieces[0])->rect;
  for (u32 i = 1; i < pieces.GetSize(); ++i) {
    const kltRECT_s& r = engine.GetPiece(pieces[i])->rect;
    m_area = {std::min(m_area.left, r.left), std::min(m_area.top, r.top), std::max(m_area.right, r.right),
              std::max(m_area.bottom, r.bottom)};
  }
  // Pieces lie in the filter area; the document's layers in the whole image.
  CPluginMain* plugin = mainWindow->GetPluginObject();
  const kltRECT_s fa = plugin ? plugin->GetPluginDataPtr()->filterArea : kltRECT_s{0, 0, 0, 0};
  m_area = {m_area.left + fa.left, m_area.top + fa.top, m_area.right + fa.left, m_area.bottom + fa.top};
  return 1;
}

void CWndFX_ImageOverlay::Init() {
  CWndFX_Base::Init();
  UpdateDisplay();
}

u32 CWndFX_ImageOverlay::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!IsCreated()) return 0;
  if (CWndFX_Base::OnCtrlMessage(msg, id, name, type, data)) return 1;
  if (type == klCtrlButton && GetControl(id) == m_choose) return i_SourceMenu(), 1;
  if (type != 255 || msg != klMsgMenu || !data) return 0;
  const u16 command = *static_cast<const u16*>(data);
  if (command == kCmdAuto) {
    i_Value(0).sourceMode = i_Value(1).sourceMode = 0;
    Changes(CFXSchedule::kDeferred);
    UpdateDisplay();
    return 1;
  }
  if (command == kCmdChoose) return DoLayersWindow(), 1;
  return 0;
}

void CWndFX_ImageOverlay::i_SourceMenu() {
  const u8 manual = i_Value(0).sourceMode ? 1 : 0;
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  menu.AddItem("From Document Layer (Auto)", kCmdAuto, manual ? 0 : 1, 0);
  menu.AddItem("From Document Layer...", kCmdChoose, manual, 0);
  menu.DoPopup(this, kMenuX, kMenuY, 0);
}

void CWndFX_ImageOverlay::UpdateDisplay() {
  m_source->SetText(i_Value(0).sourceMode ? "From Manually Selected Layer" : "From Auto-Selected Layers");
  m_source->Redraw();
}

void CWndFX_ImageOverlay::DoLayersWindow() {
  CPluginMain* plugin = mainWindow ? mainWindow->GetPluginObject() : nullptr;
  CKLF_Storage* store = plugin ? plugin->ConfStorage_GetStorage() : nullptr;
  // The picker goes on every road out of here.
  std::unique_ptr<CWnd_LayersList> picker(new CWnd_LayersList());
  kltSIZE_s at = klNullSize;
  if (mainWindow && !mainWindow->GetWindowPosition("Layers", "IOVR", at)) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", this);
    return;
  }
  picker->SetOwner(mainWindow);
  picker->SetPlugin(plugin);
  picker->SetTarget(m_area);
  picker->SetChosenId(i_Value(0).sourceMode == 1 ? i_Value(0).layerId : CFXLayerList::kNone);
  u8 filtered = 1;
  if (store && !store->GetOptional(kFilteredKey, filtered)) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", this);
    return;
  }
  picker->SetShowFiltered(filtered);
  if (!picker->CreateFromResource("Layers", static_cast<i16>(at.horizontal), static_cast<i16>(at.vertical), this, 1))
    return;
  picker->RenderRect(klNullRect);
  m_picker = picker.get();
  const i32 result = picker->DoModal();
  m_picker = nullptr;
  if (result != 1) return;
  if (store && ((store->GetRecType("DocLayers Settings") != CKLF_Storage::klRecFolder &&
                  !store->AddFolder("DocLayers Settings")) ||
                 !store->SetRecord(kFilteredKey, picker->GetShowFiltered())))
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", this);
  const i32 chosen = picker->GetChosenId();
  if (chosen == CFXLayerList::kNone) return;
  for (u8 k = 0; k < 2; ++k) {
    i_Value(k).layerId = chosen;
    i_Value(k).sourceMode = 1;
  }
  Changes(CFXSchedule::kDeferred);
  UpdateDisplay();
}

void CWndFX_ImageOverlay::UpdatePreview() {
  Overlay r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  SampleImage()->GetControlLayer()->SetOpacity(255);
  if (m_overlay) m_overlay->GetControlLayer()->SetOpacity(r.opacity);
  RedrawPreview();
}
