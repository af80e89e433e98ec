// The base of the image-based controls. A control lives in one window's
// control list (its id is its index there), draws into the window's
// layers, gets the mouse, keyboard and timer events the window routes to it
// and reports through the window's OnCtrlMessage, or through its focus
// master's when forwarding is on (compound controls).
//
// Control types: 1 slider, 2 static image, 3 static text, 4 progress,
// 5 button, 6 radio button, 7 check box, 8 edit line, 9 scroll bar,
// 10 list, 11 preview (external only), 12 ruler.
// Messages: 0x100 value set, 0x105 value while dragging, 0x110 click or
// check change, 0x120 edit text changed, 0x130 pop-up menu choice,
// 0x140..0x143 preview, 0x150 accelerator (and a static image's mouse move
// to its master), 0x151..0x153 static image down, up, wheel, 0x160 list.
// Keys: 1 Up, 2 Down, 3 Left, 4 Right, 5 Backspace, 6 Return or Enter,
// 7 Escape, 8 Delete, 9 End, 10 Home, 11 Tab, 220..231 F1..F12.
// Modifier bits: 1 Option, 2 Shift, 4 Control, 8 Command, 16 space bar.
#pragma once

#include "CKLF_UIResources.h"

class CKLF_Window;
class CKLF_CtrlPicture;

enum : u8 {
  klCtrlSlider = 1,
  klCtrlStaticImage = 2,
  klCtrlStaticText = 3,
  klCtrlProgress = 4,
  klCtrlButton = 5,
  klCtrlRadioButton = 6,
  klCtrlCheckBox = 7,
  klCtrlEditLine = 8,
  klCtrlScrollBar = 9,
  klCtrlList = 10,
  klCtrlPreview = 11,
  klCtrlRuler = 12
};

enum : u16 {
  klMsgValueSet = 0x100,
  klMsgValueDragging = 0x105,
  klMsgClick = 0x110,
  klMsgEditChanged = 0x120,
  klMsgMenu = 0x130,
  klMsgPreviewZoom = 0x140,
  klMsgPreviewMouse = 0x141,
  klMsgPreviewRedrawn = 0x142,
  klMsgPreviewRedrawn2 = 0x143,
  klMsgAccelerator = 0x150,
  klMsgImageMove = 0x150,
  klMsgImageDown = 0x151,
  klMsgImageUp = 0x152,
  klMsgImageWheel = 0x153,
  klMsgListSelection = 0x160
};

enum : u8 {
  klKeyUp = 1,
  klKeyDown = 2,
  klKeyLeft = 3,
  klKeyRight = 4,
  klKeyBackspace = 5,
  klKeyReturn = 6,
  klKeyEscape = 7,
  klKeyDelete = 8,
  klKeyEnd = 9,
  klKeyHome = 10,
  klKeyTab = 11,
  klKeyF1 = 220,
  klKeyF12 = 231
};

enum : u8 { klModOption = 1, klModShift = 2, klModControl = 4, klModCommand = 8, klModSpace = 16 };

// Control timer kinds and their periods: the hover check, the delay before
// a held control repeats, and the repeat.
enum : u16 { klTimerHover = 1, klTimerRepeatDelay = 2, klTimerRepeat = 3 };
enum : u32 { klHoverMs = 50, klRepeatDelayMs = 500, klRepeatMs = 50 };

// The modifier bits a click message (0x110) carries; a sender without a
// mouse event behind it may give none, which reads as 0.
inline u32 KLF_ClickModifiers(const void* data) { return data ? *static_cast<const u32*>(data) : 0; }

class CKLF_Control : public CKLF_FrameWork {
 public:
  CKLF_Control();
  ~CKLF_Control() override;

  virtual void Enable(u8 on) { m_enabled = on; }
  virtual void SetFocus(u8 on);
  virtual void SetCheck(u8, u8) {}
  // Stores id, name, window and store.
  [[nodiscard]] virtual u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage);
  virtual kltRECT_s GetRenderRect() { return klNullRect; }
  virtual void Redraw() {}
  virtual void OnTimer(u16) {}
  // Event operations answer non-zero when they consume the event.
  virtual u8 OnMouseMove(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseDown(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseUp(i16, i16, u8) { return 0; }
  virtual u8 OnMouseWheel(i16, i16, u8, i16) { return 0; }
  virtual u8 OnKeyDown(u8, u8) { return 0; }
  virtual u8 OnKeyUp(u8, u8) { return 0; }
  virtual u8 OnKeyChar(u8, u8) { return 0; }
  virtual u8 OnLMouseDoubleClick(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseTripleClick(i16, i16, u8) { return 0; }
  virtual u8 PtInControl(i16 x, i16 y) { return m_enabled && PtAboveControl(x, y) ? 1 : 0; }
  virtual u8 PtAboveControl(i16, i16) { return 0; }
  virtual u32 OnCtrlMessage(u16, u32, const char*, u8, void*) { return 0; }

  u8 GetType() const { return m_type; }
  const CKLF_String& GetName() const { return m_name; }
  u32 GetControlID() const { return m_id; }
  u8 IsExternal() const { return m_external; }
  u8 IsEnabled() const { return m_enabled; }
  u8 GetDisabledOpacity() const { return m_disabledOpacity; }
  void SetDisabledOpacity(u8 opacity);
  void InvertWheel(u8 on) { m_invertWheel = on; }
  void SetWheelSpeed(u8 speed) { m_wheelSpeed = speed; }
  u8 IsCtrlFiltered() const { return m_filtered; }
  void SetCtrlFiltered(u8 on) { m_filtered = on; }
  u8 GetGroupID() const { return m_group; }
  u8 GetCheck() const { return m_check; }
  void SetFocusMaster(CKLF_Control* master) { m_master = master; }
  CKLF_Control* GetFocusMaster() const { return m_master; }
  void EnableMessageForwardingToFocusMaster(u8 on) { m_forward = on; }
  u8 IsForwardingToFocusMaster() const { return m_forward; }
  CKLF_Window* GetWindow() const { return m_window; }
  CKLF_Control* GetControlByID(u32 id) const;
  kltPOS GetMousePos() const;
  // The focus flag at the end of the focus-master chain (nine masters at most).
  u8 GetFocus() const;

  // The window's control timers; OnTimer(kind) receives them (kinds 0..3).
  [[nodiscard]] u8 SetTimer(u32 intervalMs, u16 kind);
  u8 KillTimer(u16 kind);
  // To the focus master when forwarding (0 without one), else the window.
  u32 SendMessage(u16 msg, void* data);
  void NotifyParentCtrlFocuseed();
  void NotifyParentCtrlLostFocus();
  void NotifyGroup();

  [[nodiscard]] u8* LoadImageData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out);
  // A reader of the control's store that refuses every record whose
  // rectangle leaves the window (192): a control lies inside its window.
  CKLF_UIResources Resources() const;

 protected:
  // The hover check (kind 1, every 50 ms) while the mouse is over the
  // control, started once; the repeat delay (kind 2, 500 ms) unless a
  // repeat runs, turning into the repeat (kind 3, every 50 ms).
  void StartHoverTimer();
  void StopHoverTimer();
  void StartRepeatDelay();
  void RepeatDelayDone();
  void StopRepeat();
  u8 IsRepeating() const { return m_repeat; }
  // The window under the mouse is this control's and the mouse is in the
  // control.
  u8 IsMouseOver();
  // The control's layers join the window's layer set and leave it with the
  // control; changes are composed and put on screen by rectangle.
  [[nodiscard]] u8 AddLayer(CKLF_Layer& layer);
  void RemoveLayer(CKLF_Layer& layer);
  void RenderAndUpdate(kltRECT_s rect);
  // Shows a state picture in the layer at opacity 255, or at the disabled
  // opacity when dimmed. again: the state stays, only a changed opacity is
  // redrawn (0); otherwise the picture is copied in (the layer cleared
  // without one) and 1 answered for the caller to store and draw.
  [[nodiscard]] u8 ShowPicture(CKLF_Layer& layer, const CKLF_CtrlPicture* picture, u8 dimmed, u8 again);
  // A failure the control could not report (its text left undrawn): the
  // window notes it (CKLF_Window::NoteFailure).
  void NoteFailure(u16 code);

  u8 m_type;
  u8 m_invertWheel;
  u8 m_wheelSpeed;
  u8 m_enabled;
  u8 m_disabledOpacity;
  u8 m_focus;
  u8 m_group;
  u8 m_check;
  CKLF_Window* m_window;
  CKLF_String m_name;
  CKLF_Storage* m_storage;
  u8 m_created;  // the control's layers exist: states may be drawn

 private:
  friend class CKLF_Window;

  u8 m_external;
  u32 m_id;
  CKLF_Control* m_master;
  u8 m_forward;
  u8 m_filtered;
  u8 m_hoverTimer;
  u8 m_repeatDelay;
  u8 m_repeat;
};
