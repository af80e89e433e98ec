// The base of every window: a borderless window shaped by its background's
// alpha, drawn entirely from a stack of layers composed into a canvas and
// copied to the screen. It routes the platform's mouse, keyboard and
// window events to its controls (offered from the last added to the first)
// and to its own virtual operations, runs timers for itself (ids below
// 32000) and its controls (32000 + 10000 x kind + control index, kinds 0..3,
// so ids stay unique in 16 bits), and can run a modal loop.
//
// Mouse positions handed to the operations are window-local. A rectangle of
// four -32000 values means the whole canvas. Cost: an update composes and
// copies only the rectangle asked for.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_LayerSet.h"
#include "CKLF_OffscreenBitmap.h"
#include "CKLF_WindowResource.h"
#include "CKLP_UIPlatform.h"
#include "KLF_ControlFactory.h"

class CKLF_Window : public CKLF_FrameWork, public CKLP_WindowClient {
 public:
  CKLF_Window();
  ~CKLF_Window() override;
  CKLF_Window(const CKLF_Window&) = delete;
  CKLF_Window& operator=(const CKLF_Window&) = delete;

  virtual void Close();
  virtual void PreCloseWindow();
  virtual u8 PtInCaption(i16 x, i16 y);
  virtual u8 PtInCaptionGCoors(i16 x, i16 y);
  virtual u8 OnCreate(CKLF_LayerSet*, u16, u16) { return 1; }
  virtual void OnRedraw(kltRECT_s rect);
  virtual void OnTimer(u16) {}
  virtual u8 OnMouseMove(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseDown(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseUp(i16, i16, u8) { return 0; }
  virtual u8 OnRMouseDown(i16, i16, u8) { return 0; }
  virtual u8 OnRMouseUp(i16, i16, u8) { return 0; }
  virtual u8 OnContextMenu(i16, i16, u8) { return 0; }
  virtual u8 OnMouseWheel(i16, i16, u8, i16) { return 0; }
  virtual u8 OnKeyDown(u8, u8) { return 0; }
  virtual u8 OnKeyUp(u8, u8) { return 0; }
  virtual u8 OnKeyChar(u8, u8) { return 0; }
  virtual u8 OnSetCursor(i16 x, i16 y);
  virtual u8 OnLMouseDoubleClick(i16, i16, u8) { return 0; }
  virtual u8 OnLMouseTripleClick(i16, i16, u8) { return 0; }
  // A non-zero answer accepts the control as the one under the mouse.
  virtual u8 OnAboveControl(u32) { return 0; }
  virtual u32 OnCtrlMessage(u16, u32, const char*, u8, void*) { return 0; }
  virtual void OnCtrlFocused(u32 id);
  virtual void OnCtrlLostFocus(u32 id);
  virtual void OnCtrlNewGroupMaster(u32 id, u8 group);
  // The window manager's close (its close button, Alt+F4): the close box's
  // press and click (a button named "..._CloseX"; refused while it is
  // disabled), or Escape without one.
  virtual void OnCloseRequest();

  // Creation. x = y = -32000 centres the window on the main screen; other
  // positions are kept when a screen takes them, else clamped to the main
  // screen. Errors: 144 no platform window, 145 already created.
  [[nodiscard]] u8 Create(const CKLF_String& name, i16 x, i16 y, u16 w, u16 h, u8 creationFlag, CKLF_Window* parent,
                          u8 movableModal, u8 callOnCreate);
  // From "UIResources>Windows>" + name; 192 for a missing or malformed
  // picture. OnCreate's result, or 0 with the code a noted failure left.
  [[nodiscard]] u8 CreateFromResource(const CKLF_String& name, i16 x, i16 y, CKLF_Window* parent, u8 movableModal);
  // A failure the window or one of its controls met and could not report
  // (a text or a picture left undrawn): while OnCreate runs it fails the
  // creation with its code (the first one kept); later it changes nothing.
  void NoteFailure(u16 code);
  // The outline from an RGBA image laid at the window's corner (alpha above
  // 128 inside); only before creation.
  [[nodiscard]] u8 SetWindowShape(CKLF_Image* image);
  void SetCaptionLayer(u32 index) { m_captionLayer = index; }
  void SetCaptionLayer(const CKLF_String& layerName);
  u32 GetCaptionLayer() const { return m_captionLayer; }
  void SetFloating(u8 on) { m_floating = on; }
  // Before creation: the desktop keeps the window in front of its parent
  // and hands it the keys when the parent is clicked, as it does for a
  // movable-modal window (the toolkit still lets the parent take input).
  // Both are dialogs: Return and Escape reach the window also after its
  // focused control (a field) has ended its editing with them.
  void SetModalHint(u8 on) { m_modalHint = on; }

  void Show();
  void Hide();
  u8 IsVisible();
  void Minimize();
  void MoveWindow(i16 x, i16 y);
  kltRECT_s GetWindowRect();
  KLP_WindowID GetWindowHandle() const { return m_handle; }
  CKLF_Window* GetParent() const { return m_parent; }
  const CKLF_String& GetName() const { return m_name; }
  // The client area in window coordinates: (0, 0) and the size given to Create.
  kltRECT_s GetClientRect() const { return {0, 0, m_width, m_height}; }
  void SetFocus();
  void LockWindow(u8 on) { m_locked = on; }
  u8 IsWindowLocked() const { return m_locked; }
  kltPOS GetMousePos();
  static CKLF_Window* WindowFromPoint(kltPOS global);
  // The control under the mouse, all ones for none.
  u32 GetHoverControl() const { return m_hover < 0 ? 0xFFFFFFFFu : static_cast<u32>(m_hover); }

  // Layers and drawing (nothing while locked; updates nothing once closing).
  CKLF_LayerSet* GetLayerSet() { return &m_layers; }
  CKLF_Layer* GetLayer(const CKLF_String& name);
  CKLF_Layer* GetLayer(u32 index);
  [[nodiscard]] i32 LSAddLayer(CKLF_Layer* layer) { return m_layers.AddLayer(layer); }
  u8 RenderRect(kltRECT_s rect);
  u8 RenderLayer(const CKLF_String& name);
  u8 RenderLayer(u32 index);
  void UpdateRect(kltRECT_s rect);
  u8 UpdateLayer(const CKLF_String& name);
  u8 UpdateLayer(u32 index);
  void UpdateRect_Direct(CKLF_Image* rgb, kltRECT_s rect);
  void ForceRedrawRect(kltRECT_s rect);

  // Controls and fonts.
  [[nodiscard]] i32 AddControl(const CKLF_String& name, u8 type);
  [[nodiscard]] i32 AddControl_External(CKLF_Control* control);
  // The left button's release handled now (the capture ends): a button
  // that opens a menu on its press gives the mouse back so.
  u8 ReleaseCapture(i16 x, i16 y, u8 mods) { return iLMouseUp(x, y, mods); }
  // A control holds the left button's press (until its release).
  u8 IsMouseCaptured() const { return m_captured >= 0 ? 1 : 0; }
  // The first edit line that takes keys gets the focus (typing lands in
  // it, Tab goes on from it); 0 when there is none.
  u8 FocusFirstEditLine();
  CKLF_Control* GetControl(u32 id) const;
  u32 GetControlCount() const { return m_controls.GetSize(); }
  // Filtered controls get no mouse events; id -1 = all.
  void FilterControl(u8 on, u32 id);
  [[nodiscard]] i32 AddFont(const CKLF_String& name);
  CKLF_Font* GetFont(u32 index) const;
  [[nodiscard]] u8 GetResourceString(const char* name, CKLF_String& out);
  [[nodiscard]] u8 GetResourceRect(const char* name, kltRECT_s& out);

  // Timers. Setting a running id restarts it; 0 with error 1 for interval
  // 0, a bad kind or control, 144 without a platform window, 17 when
  // memory ran out.
  [[nodiscard]] u8 SetTimer(u32 intervalMs, u16 id);
  // 1, whether or not the id ran.
  u8 KillTimer(u16 id);
  [[nodiscard]] u8 SetCtrlTimer(u32 intervalMs, u16 kind, CKLF_Control* control);
  u8 KillCtrlTimer(u16 kind, CKLF_Control* control);

  // Shows and selects the window (it has the keys), then runs its loop:
  // -1 without a platform window, else the code given to EndModal. The
  // loop also ends when the window is closed without EndModal. The window
  // under a closing window takes the keys as it goes (the platform's
  // rule), so its next press is its own, not an activation.
  i32 DoModal();
  void EndModal(i32 code);
  u8 IsModal() const { return m_modal; }
  // The application loop runs on this window: its disposal ends the loop.
  void SetAppLoop(u8 on) { m_appLoop = on; }

  void SetNormalCursor();
  void SetIBeamCursor();
  void SetCursorByID(i32 id);
  // Toolkit modifier bits, live.
  static u8 GetKeysStatus();
  static u8 IsKeyDown_Spacebar();

  // Pumps pending events of the kinds asked for (to target, or to each
  // event's own window), timers suspended unless keepTimers.
  void SubProcessMessages(CKLF_Window* target, u8 keepTimers, u8 windowEvents, u8 keyboard, u8 mouse);
  // While held (holds nest), the window's clicks, keys and close requests
  // wait in the queue, in order, for the release; moves ahead of them
  // pass. A long operation that pumps events holds its own window's input
  // that it would refuse meanwhile.
  void HoldInput(u8 on);
  u8 CheckForInputMessagesInQueue();
  // Takes keyboard events until Escape or Command-period (1) or none left.
  u8 ESCIsInMessageQueue();
  void CleanMessageQueue();

  int32_t OnPlatformEvent(const KLP_Event& event) override;

 protected:
  // The control of a toolkit type for AddControl; null when memory ran out.
  virtual CKLF_Control* NewControl(u8 type) { return KLF_NewControl(type); }

  void iKeyDown(u8 key, u8 mods);
  void iKeyUp(u8 key, u8 mods);
  void iKeyChar(u8 key, u8 mods);
  // time: when the press was made (the event's time), which the click
  // count goes by: presses that wait while a long operation runs still
  // make a double click.
  u8 iLMouseDown(i16 x, i16 y, u8 mods, KLP_Point global, u32 time);
  u8 iLMouseUp(i16 x, i16 y, u8 mods);
  u8 iRMouseDown(i16 x, i16 y, u8 mods);
  u8 iMouseMove(i16 x, i16 y, u8 mods);
  u8 iMouseWheel(i16 x, i16 y, u8 mods, i16 delta);
  void iOnTimer(u16 id);

 private:
  kltPOS i_Place(i16 x, i16 y, u16 w, u16 h);
  [[nodiscard]] u8 i_MakePlatformWindow(u16 w, u16 h, kltPOS at);
  [[nodiscard]] u8 i_AddResourceLayers();
  [[nodiscard]] u8 i_RoomForControl();
  [[nodiscard]] u8 i_OnCreate();
  int32_t i_OnKeyboard(const KLP_Event& e);
  int32_t i_OnMouse(const KLP_Event& e);
  int32_t i_OnWindow(const KLP_Event& e);
  void i_CountClick(i16 x, i16 y, u32 now, u8& dbl, u8& triple);
  void i_OfferHover(i32 index, i32& candidate);
  void i_RefreshHover(i16 x, i16 y);
  void i_TabToEditLine(i32 from, u8 backwards);
  // The edit line after from that takes keys (before it with backwards,
  // wrapping around; from -1 forwards: the first); -1 when none does.
  i32 i_NextEditLine(i32 from, u8 backwards);
  // Hidden from the mouse: filtered, or disabled and drawn at opacity 0.
  static u8 i_Unreachable(CKLF_Control* c);
  void i_ShowCaption(u8 active);
  i32 i_ControlAt(i16 x, i16 y);
  u8 i_TimerIndex(u16 id, u32& at) const;
  void i_QuitModalLoop();
  static u8 i_Mods(u32 platformMods);

  u8 m_timersOn;
  u8 m_locked;
  u32 m_captionLayer;
  u8 m_creationFlag;
  u16 m_width;
  u16 m_height;
  u8 m_modal;
  i32 m_modalResult;
  u8 m_movableModal;
  CKLF_Window* m_parent;
  CKLF_String m_name;
  CKLF_LayerSet m_layers;
  CKLF_OffscreenBitmap m_offscreen;
  CKLF_WindowResource m_resource;
  CKLF_Layer m_background;
  u32 m_activeCaption;
  u32 m_inactiveCaption;
  CKLF_PtrArray m_controls;
  // Per control, 1 when the window deletes it: an external control may be
  // gone before the window is, so its own flag is not read then.
  std::vector<u8> m_owned;
  i32 m_captured;
  i32 m_focused;
  // The control a deactivation took the focus from before the window was
  // first pressed or typed into: the next activation gives it back, so a
  // window opened among others keeps the field it opened with. -1 none.
  i32 m_openingFocus;
  u8 m_used;  // a press or a key has reached the window
  CKLF_PtrArray m_fonts;
  u32 m_dblTime;
  i32 m_lastClickX;
  i32 m_lastClickY;
  u32 m_tolX;
  u32 m_tolY;
  u32 m_lastClickTime;
  u8 m_dblSeen;
  i32 m_lastPressed;  // the control that took the last press, -1 none
  i32 m_hover;
  u8 m_closing;
  KLP_WindowID m_handle;
  CKLF_Mem m_shape;  // the outline's bits, rows of width / 8 + 1 bytes
  u32 m_shapeRowBytes;
  u16 m_shapeW;
  u16 m_shapeH;
  std::vector<KLP_TimerID> m_timerHandles;
  std::vector<u16> m_timerIds;
  u8 m_appLoop;
  KLP_WindowID m_modalFor;  // the platform window the running modal loop is for, 0 for none
  u8 m_floating;
  u8 m_modalHint;
  u8 m_creating;  // OnCreate runs
  u16 m_noted;    // the first failure noted meanwhile, 0 none
};
