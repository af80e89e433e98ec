// The plug-in's question box and the platform's dialogs over a window on a
// real display, for the modal windows' real-window test.
//
//   klt_modalbox RESOURCES WORK_MS   opens "Demo" at (100, 80), prints
//       "ready at X,Y size W,H apply AX,AY ok OX,OY caption CX,CY" (window
//       points) and one line per answer below; Escape closes it.
//     "Demo_Button" (Apply) works WORK_MS ms, pumping the events as the
//       Cutter's cut does, then asks "Pieces Layout Has Changed" with Yes
//       and No; "Demo_OK" asks at once with OK and Cancel. Each box prints
//       "box N yes YX,YY" (a window point of its left button) as it
//       shows, "box key C" for each character typed to it and "answer N
//       A" when it ends.
//     A right click opens a menu ("menu open"): "Load..." asks for a
//       document (".klpd", in the resource file's folder), then shows
//       the alert a damaged document gives ("alert" before it, "alert
//       closed" after); "Red..." and "Yellow..." open the colour chooser
//       on that colour ("colour RRGGBB" chosen, "colour -" cancelled).
//   klt_modalbox --count SHOT.xwd RRGGBB OUT.png   keeps an X screenshot as
//       PNG and prints "count N", its pixels of exactly that colour.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "CKLF_App.h"
#include "CKLF_PlatformFileDialog.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLF_Window.h"
#include "CKLP_UIPlatform.h"
#include "CWnd_MessageBox.h"
#include "ui/display/KLT_Screenshot.h"

namespace {

void Say(const std::string& s) {
  std::printf("%s\n", s.c_str());
  std::fflush(stdout);
}

std::string Point(const kltRECT_s& r) {
  return std::to_string((r.left + r.right) / 2) + "," + std::to_string((r.top + r.bottom) / 2);
}

// Announces itself, and the point of its left button, once it is shown.
class CKLT_AnnouncedBox : public CWnd_MessageBox {
 public:
  int round = 0;
  u8 OnKeyChar(u8 key, u8) override {
    Say(std::string("box key ") + static_cast<char>(key));
    return 1;
  }
  void OnRedraw(kltRECT_s rect) override {
    CWnd_MessageBox::OnRedraw(rect);
    if (m_told || !IsVisible()) return;
    m_told = 1;
    for (u32 i = 0; i < GetControlCount(); ++i)
      if (GetControl(i)->IsEnabled() && GetControl(i)->GetType() == klCtrlButton) {
        Say("box " + std::to_string(round) + " yes " + Point(GetControl(i)->GetRenderRect()));
        break;
      }
  }

 private:
  u8 m_told = 0;
};

class CKLT_AskingWindow : public CKLF_Window {
 public:
  u32 workMs = 300;

  u8 OnCreate(CKLF_LayerSet*, u16, u16) override {
    m_apply = AddControl("Demo_Button", klCtrlButton);
    m_ok = AddControl("Demo_OK", klCtrlButton);
    return m_apply >= 0 && m_ok >= 0 && RenderRect(klNullRect);
  }
  std::string Ready() {
    const kltRECT_s r = GetWindowRect();
    return "ready at " + std::to_string(r.left) + "," + std::to_string(r.top) + " size " +
           std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) + " apply " +
           Point(GetControl(static_cast<u32>(m_apply))->GetRenderRect()) + " ok " +
           Point(GetControl(static_cast<u32>(m_ok))->GetRenderRect()) + " caption 250,12";
  }
  u8 OnKeyDown(u8 key, u8) override {
    if (key == klKeyEscape) Close();
    return 1;
  }
  u8 OnContextMenu(i16 x, i16 y, u8) override {
    CKLF_PlatformPopupMenu menu;
    menu.Create();
    menu.AddItem("Load...", kLoad, 0, 0);
    menu.AddItem("Red...", kRed, 0, 0);
    menu.AddItem("Yellow...", kYellow, 0, 0);
    Say("menu open");
    menu.DoPopup(this, x, y, 0);
    return 1;
  }
  u32 OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) override {
    if (msg == klMsgMenu && type == 255 && data) return i_Menu(*static_cast<const u16*>(data));
    if (msg != klMsgClick) return 0;
    if (static_cast<i32>(id) == m_apply) {
      i_Work();
      return i_Ask(2, 3);
    }
    return static_cast<i32>(id) == m_ok ? i_Ask(1, 4) : 0;
  }

 private:
  enum : u16 { kLoad = 1, kRed = 2, kYellow = 3 };

  // As a long operation keeps the windows alive.
  void i_Work() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(workMs);
    while (std::chrono::steady_clock::now() < end) {
      SubProcessMessages(nullptr, 0, 1, 0, 0);
      SubProcessMessages(this, 0, 0, 1, 1);
    }
  }
  u32 i_Ask(u8 left, u8 right) {
    CKLT_AnnouncedBox box;
    box.round = ++m_rounds;
    if (!box.Init("Pieces Layout Has Changed", "Do you want to reset effects?", left, right) ||
        !box.CreateFromResource("MessageBox", klNotSet, klNotSet, this, 1)) return 1;
    box.RenderRect(klNullRect);
    Say("answer " + std::to_string(box.round) + " " + std::to_string(box.DoModal()));
    return 1;
  }
  u32 i_Menu(u16 command) {
    if (command == kLoad) {
      CKLF_PlatformFileDialog dialog;
      CKLF_StringArray extensions;
      if (extensions.Add("klpd", 0) < 0 || !dialog.AddFilter("Kelvanos Tessarette Document (.klpd)", &extensions, 0))
        return 1;
      dialog.SetDefaultPathToAppRoot(nullptr);
      dialog.SetWindowTitle("Load Document...");
      if (!dialog.DoFileOpenDialog(this, 0)) return 1;
      Say("alert");
      m_App->PlatformMessageBox("Unknow file format or file corrupt...", "Error!", this);
      Say("alert closed");
      return 1;
    }
    const u32 colour = command == kRed ? 0xFF0000 : 0xFFFF00;
    u16 rgb[3] = {static_cast<u16>((colour >> 16) * 257), static_cast<u16>((colour >> 8 & 255) * 257),
                  static_cast<u16>((colour & 255) * 257)};
    char chosen[16] = "-";
    if (KLP_GetUI()->PickColor(GetWindowHandle(), "Select Color", rgb) == KLP_Picked::kChosen)
      std::snprintf(chosen, sizeof chosen, "%02x%02x%02x", rgb[0] >> 8, rgb[1] >> 8, rgb[2] >> 8);
    Say(std::string("colour ") + chosen);
    return 1;
  }

  i32 m_apply = -1;
  i32 m_ok = -1;
  int m_rounds = 0;
};

int Count(const char* shotPath, const char* hex, const char* pngPath) {
  klt_screenshot::Picture shot;
  const u32 colour = static_cast<u32>(std::strtoul(hex, nullptr, 16));
  if (!klt_screenshot::ReadXWD(shotPath, shot) || !klt_screenshot::WritePNG(pngPath, shot)) {
    std::fprintf(stderr, "cannot read %s or write %s\n", shotPath, pngPath);
    return 1;
  }
  u64 n = 0;
  for (size_t i = 0; i + 3 < shot.rgba.size(); i += 4)
    n += (u32{shot.rgba[i]} << 16 | u32{shot.rgba[i + 1]} << 8 | shot.rgba[i + 2]) == colour;
  std::printf("count %llu\n", static_cast<unsigned long long>(n));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--count") return Count(argv[2], argv[3], argv[4]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: klt_modalbox RESOURCES WORK_MS | --count SHOT.xwd RRGGBB OUT.png\n");
    return 2;
  }
  std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
  if (!ui) {
    std::fprintf(stderr, "no display\n");
    return 2;
  }
  KLP_SetUI(ui.get());
  CKLF_App app;
  m_App = &app;
  int rc = 0;
  if (!app.InitStorgaeResource(argv[1], 1)) {
    std::fprintf(stderr, "cannot open %s (error %u)\n", argv[1], app.GetError());
    rc = 1;
  } else {
    CKLT_AskingWindow w;
    w.workMs = static_cast<u32>(std::atol(argv[2]));
    if (!w.CreateFromResource("Demo", 100, 80, nullptr, 0)) {
      std::fprintf(stderr, "cannot create the window (error %u)\n", w.GetError());
      rc = 1;
    } else {
      app.SetMainWindow(&w);
      w.SetFocus();
      Say(w.Ready());
      app.Run();
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}
