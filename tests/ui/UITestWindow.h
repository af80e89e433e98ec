// A minimal control and a window that record what reaches them, one line
// per event ("c2 down", "above 1", "msg 0x110 2 Button =0"...), for the
// toolkit's tests and the real-window program. Messages show their data
// after "=" where the sender's type tells its form ("=null" for none), the
// edit line's text and the menu's command among them.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "CKLF_Window.h"

struct UITestLog {
  std::vector<std::string> lines;
  std::function<void(const std::string&)> echo;  // sees each line as it comes
  void Add(const char* fmt, long a = 0, long b = 0, const char* s = "") {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, a, b, s);
    Line(buf);
  }
  void Line(const std::string& line) {
    lines.push_back(line);
    if (echo) echo(line);
  }
  // The lines so far (those starting with prefix), joined by ", ", and
  // forgets them all.
  std::string Take(const std::string& prefix = "") {
    std::string out;
    for (const std::string& l : lines)
      if (l.compare(0, prefix.size(), prefix) == 0) out += (out.empty() ? "" : ", ") + l;
    lines.clear();
    return out;
  }
};

// " =value" for the messages whose data the sender's type tells.
inline std::string KLT_MessageData(u16 msg, u8 type, const void* data) {
  if (msg == klMsgEditChanged && data) return std::string(" =") + static_cast<const CKLF_String*>(data)->GetStr();
  if (msg == klMsgMenu && data) return " =" + std::to_string(*static_cast<const u16*>(data));
  const bool value = msg == klMsgValueSet || msg == klMsgValueDragging || msg == klMsgClick;
  const bool image = type == klCtrlStaticImage && msg >= klMsgAccelerator && msg <= klMsgImageWheel;
  const bool preview = type == klCtrlPreview && msg >= klMsgPreviewZoom && msg <= klMsgPreviewRedrawn2;
  if (!value && !image && !preview) return "";
  if (!data) return " =null";
  const i32* v = static_cast<const i32*>(data);
  if (preview && msg == klMsgPreviewZoom) return " =" + std::to_string(*static_cast<const u8*>(data));
  if (preview) return " =" + std::to_string(v[0]) + "," + std::to_string(v[1]);
  if (image) return " =" + std::to_string(v[0]) + "," + std::to_string(v[1]) +
                    (msg == klMsgImageWheel ? "," + std::to_string(v[2]) : "");
  if (msg == klMsgClick && type == klCtrlCheckBox) return " =" + std::to_string(*static_cast<const u8*>(data));
  return " =" + std::to_string(*static_cast<const u32*>(data));
}

// A rectangle that takes presses (consume) and sends 0x110 when released
// over itself after a press.
class CKLT_TestControl : public CKLF_Control {
 public:
  kltRECT_s rect = {0, 0, 0, 0};
  u8 consume = 1;
  u8 failInit = 0;
  UITestLog* log = nullptr;

  u8 Init(CKLF_Window* w, u32 id, const CKLF_String& name, CKLF_Storage* s) override {
    if (failInit) return Fail(klErrUIResource);
    return CKLF_Control::Init(w, id, name, s);
  }
  u8 PtAboveControl(i16 x, i16 y) override {
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom ? 1 : 0;
  }
  u8 OnLMouseDown(i16, i16, u8) override {
    L("c%ld down");
    m_pressed = 1;
    return consume;
  }
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override {
    L("c%ld up");
    u32 bits = mods;
    if (m_pressed && PtAboveControl(x, y)) SendMessage(klMsgClick, &bits);
    m_pressed = 0;
    return consume;
  }
  u8 OnMouseMove(i16, i16, u8) override { return 0; }
  u8 OnLMouseDoubleClick(i16, i16, u8) override { return L("c%ld double"), 1; }
  u8 OnLMouseTripleClick(i16, i16, u8) override { return L("c%ld triple"), 1; }
  u8 OnMouseWheel(i16, i16, u8, i16 d) override { return L("c%ld wheel %ld", d), consume; }
  u8 OnKeyDown(u8 k, u8) override { return L("c%ld key %ld", k), 0; }
  u8 OnKeyUp(u8 k, u8) override { return L("c%ld keyup %ld", k), 0; }
  void OnTimer(u16 kind) override { L("c%ld timer %ld", kind); }
  // As a focus master.
  u32 OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) override {
    char head[64];
    std::snprintf(head, sizeof head, "c%u got 0x%x from %u", GetControlID(), msg, id);
    if (log) log->Line(head + KLT_MessageData(msg, type, data));
    return 1;
  }
  void SetType(u8 type) { m_type = type; }

 private:
  void L(const char* fmt, long b = 0) {
    if (log) log->Add(fmt, static_cast<long>(GetControlID()), b);
  }
  u8 m_pressed = 0;
};

class CKLT_RecordingWindow : public CKLF_Window {
 public:
  UITestLog* log = nullptr;
  u8 acceptHover = 1;
  // Runs inside OnKeyDown, for tests that act while an event is dispatched.
  std::function<void()> onKey;

  // Runs after a control's click message is logged.
  std::function<void(u32 id)> onClick;

  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override {
    char head[96];
    std::snprintf(head, sizeof head, "msg 0x%x %d %s", msg, static_cast<i32>(id), name ? name : "-");
    if (log) log->Line(head + KLT_MessageData(msg, type, data));
    if (msg == klMsgClick && onClick) onClick(id);
    return 1;
  }
  u8 OnAboveControl(u32 id) override { return L("above %ld", static_cast<i32>(id)), acceptHover; }
  u8 OnLMouseDown(i16 x, i16 y, u8) override { return L("down %ld,%ld", x, y), 0; }
  u8 OnLMouseUp(i16, i16, u8) override { return L("up"), 0; }
  u8 OnLMouseDoubleClick(i16, i16, u8) override { return L("double"), 0; }
  u8 OnLMouseTripleClick(i16, i16, u8) override { return L("triple"), 0; }
  u8 OnContextMenu(i16, i16, u8) override { return L("context"), 0; }
  u8 OnMouseWheel(i16, i16, u8, i16 d) override { return L("wheel %ld", d), 0; }
  u8 OnKeyDown(u8 k, u8 m) override {
    L("key %ld %ld", k, m);
    if (onKey) onKey();
    return 0;
  }
  u8 OnKeyUp(u8 k, u8) override { return L("keyup %ld", k), 0; }
  u8 OnKeyChar(u8 c, u8) override { return L("char %ld", c), 0; }
  void OnTimer(u16 id) override { L("timer %ld", id); }
  // Controls added by name are test controls, or the toolkit's own.
  CKLT_TestControl* nextControl = nullptr;
  u8 realControls = 0;

 protected:
  CKLF_Control* NewControl(u8 type) override {
    if (realControls && !nextControl) return KLF_NewControl(type);
    CKLT_TestControl* c = nextControl ? nextControl : new CKLT_TestControl;
    nextControl = nullptr;
    c->log = log;
    c->SetType(type);
    return c;
  }

 private:
  void L(const char* fmt, long a = 0, long b = 0, const char* s = "") {
    if (log) log->Add(fmt, a, b, s);
  }
};
