// The resource file's demo window ("Demo") with the toolkit's controls,
// for the demo program and the demo's tests. ShowLook puts every control
// into one look at once: 0 normal, 1 highlighted, 2 pressed, 3 pressed with
// the mouse outside, 4 disabled; one check box and one radio button are
// checked, the others not, so both kinds of picture show in every look.
// The demo program adds the rulers and the preview over a photograph.
#pragma once

#include <string>
#include <vector>

#include "CKLF_App.h"
#include "CKLF_CtrlCheckBox.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlRadioButton.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticText.h"
#include "ui/UITestWindow.h"

class CKLT_DemoWindow : public CKLT_RecordingWindow {
 public:
  static constexpr u8 kLooks = 5;
  CKLF_CtrlButton* button = nullptr;
  std::vector<std::string> refused;  // demo controls that could not be added

  u8 OnCreate(CKLF_LayerSet*, u16, u16) override {
    realControls = 1;
    struct Entry {
      const char* name;
      u8 type;
    } const entries[] = {
        {"Demo_Button", klCtrlButton},         {"Demo_Menu", klCtrlButton},           {"Demo_Check", klCtrlCheckBox},
        {"Demo_Check2", klCtrlCheckBox},       {"Demo_RadioA", klCtrlRadioButton},    {"Demo_RadioB", klCtrlRadioButton},
        {"Demo_Text", klCtrlStaticText},       {"Demo_Progress", klCtrlProgress},     {"Demo_Slider", klCtrlSlider},
        {"Demo_Dial", klCtrlSlider},           {"Demo_ListBar", klCtrlScrollBar},     {"Demo_Navigator", klCtrlStaticImage},
        {"Demo_Piece", klCtrlStaticImage},     {"Demo_OK", klCtrlButton},             {"Demo_Edit", klCtrlEditLine},
        {"Demo_List", klCtrlList}};
    for (const Entry& e : entries) Add(e.name, e.type);
    // The bars with arrows, in the platform's arrow style.
    const std::string style = CKLF_App::GetScrollStyle_TwoSideArrows() ? "_NR" : "_MAC";
    for (const char* bar : {"Demo_VBar", "Demo_HBar"}) {
      const std::string n = bar + style;
      auto* b = static_cast<CKLF_CtrlScrollBar*>(Add(n, klCtrlScrollBar));
      const i32 less = AddControl((n + "_Less").c_str(), klCtrlButton), more = AddControl((n + "_More").c_str(), klCtrlButton);
      if (!b || less < 0 || more < 0 || !b->SetButtons(static_cast<u32>(less), static_cast<u32>(more)))
        refused.push_back(n + " arrows");
      if (b) b->SetInfo(100, bar[5] == 'V' ? 25 : 40), b->SetPosition(30);
    }
    i_Setup();
    return RenderRect(klNullRect);
  }

  void ShowLook(u8 look) {
    static const u8 kButton[] = {1, 2, 4, 16}, kRadio[] = {2, 4, 8, 16}, kTrack[] = {1, 2, 4, 4};
    if (look >= kLooks) return;
    for (u32 i = 0; i < GetControlCount(); ++i) {
      CKLF_Control* c = GetControl(i);
      c->Enable(look < 4);
      if (look >= 4) continue;
      auto* push = dynamic_cast<CKLF_CtrlButton*>(c);
      auto* track = dynamic_cast<CKLF_CtrlTrack*>(c);
      if (c->GetType() == klCtrlCheckBox) push->SetState(static_cast<u8>(2 * look + (c->GetCheck() ? 1 : 2)));
      else if (c->GetType() == klCtrlRadioButton) push->SetState(c->GetCheck() ? 1 : kRadio[look]);
      else if (push) push->SetState(kButton[look]);
      else if (track) track->SetState(kTrack[look], 0);
    }
  }

  template <class C>
  C* Find(const char* name) {
    for (u32 i = 0; i < GetControlCount(); ++i)
      if (GetControl(i)->GetName() == name) return dynamic_cast<C*>(GetControl(i));
    return nullptr;
  }

 private:
  CKLF_Control* Add(const std::string& name, u8 type) {
    const i32 id = AddControl(name.c_str(), type);
    if (id < 0) refused.push_back(name);
    CKLF_Control* c = id < 0 ? nullptr : GetControl(static_cast<u32>(id));
    if (c && name == "Demo_Button") button = static_cast<CKLF_CtrlButton*>(c);
    return c;
  }
  void i_Setup() {
    const i32 font = AddFont("Info Font");
    if (auto* t = Find<CKLF_CtrlStaticText>("Demo_Text")) {
      t->SetFont(font < 0 ? nullptr : GetFont(static_cast<u32>(font)));
      t->SetText("Static text in the Info Font", 0, 2, 16);
      t->Redraw();
    }
    if (auto* p = Find<CKLF_CtrlProgress>("Demo_Progress")) p->SetValue(60);
    if (auto* s = Find<CKLF_CtrlSlider>("Demo_Slider")) s->SetValue(30, 0);
    if (auto* s = Find<CKLF_CtrlSlider>("Demo_Dial")) s->SetValue(4, 0);
    i_SetupEditing();
    if (auto* c = Find<CKLF_CtrlCheckBox>("Demo_Check2")) c->SetCheck(1, 0);
    if (auto* r = Find<CKLF_CtrlRadioButton>("Demo_RadioA")) r->SetCheck(1, 0);
    if (auto* m = Find<CKLF_CtrlButton>("Demo_Menu")) m->SetMenuMode(1);
  }
  // The edit line in its fonts and colours; the list drives its bar.
  void i_SetupEditing() {
    const i32 editFont = AddFont("Edit Font"), listFont = AddFont("List Font");
    if (auto* e = Find<CKLF_CtrlEditLine>("Demo_Edit")) {
      const kltRGBA8 colours[10] = {{0x1D, 0x1D, 0x20, 255}, {0x26, 0x26, 0x2A, 255}, {0x10, 0x10, 0x12, 255},
                                    {0x2F, 0x5F, 0x95, 255}, {0x24, 0x24, 0x26, 255}, {0xD2, 0xD2, 0xD8, 255},
                                    {0xF0, 0xF0, 0xF4, 255}, {0xFF, 0xFF, 0xFF, 255}, {0xFF, 0xFF, 0xFF, 255},
                                    {0x6A, 0x6A, 0x70, 255}};
      e->SetColors(colours);
      e->SetFont(editFont < 0 ? nullptr : GetFont(static_cast<u32>(editFont)));
      e->SetOptions(1, 0, 1, 0, 1, 0);
      e->SetText("12.5", 0);
    }
    auto* l = Find<CKLF_CtrlList>("Demo_List");
    auto* bar = Find<CKLF_CtrlScrollBar>("Demo_ListBar");
    if (!l || !bar) return;
    l->SetFont(listFont < 0 ? nullptr : GetFont(static_cast<u32>(listFont)));
    l->SetOptions(1, 1, 16, 4, 1, bar->GetControlID());
    for (const char* item : {"Squares", "Hexagons", "Triangles", "Diamonds", "Waves", "Classic", "Random"})
      if (l->AddItem(item, 0, nullptr, 1) < 0) refused.push_back(item);
    l->UpdateAfterChanges();
  }
};
