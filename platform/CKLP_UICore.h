// What both UI backends share: the table of windows with their bounds,
// shapes and z-order (front first, groups kept apart), the active window,
// the event queue and its probes, the stack of running loops and the
// dispatch rule that keeps input inside a running modal loop's windows.
// Backends add the native windows, the clock, timers and services.
#pragma once

#include <deque>
#include <memory>

#include "CKLP_UIPlatform.h"

class CKLP_UICore : public CKLP_UIPlatform {
 public:
  CKLP_UICore();
  ~CKLP_UICore() override;

  bool SetWindowShape(KLP_WindowID w, const uint8_t* bits, uint32_t rowBytes) override;
  CKLP_WindowClient* GetWindowClient(KLP_WindowID w) override;
  bool IsWindowVisible(KLP_WindowID w) override;
  KLP_WindowID GetActiveWindow() override { return m_active; }
  KLP_Rect GetWindowBounds(KLP_WindowID w) override;
  KLP_WindowID WindowAt(KLP_Point p) override;

  bool PeekEvent(uint32_t mask) override;
  bool TakeEvent(uint32_t mask, KLP_Event& out) override;
  void FlushEvents() override { m_queue.clear(); }
  int32_t DispatchEvent(const KLP_Event& event, KLP_WindowID target) override;
  void QuitLoop(KLP_WindowID modalFor) override;
  KLP_WindowID GetModalWindow() override;
  void SetEventObserver(std::function<void(const KLP_Event&)> observer) override { m_observer = std::move(observer); }
  void HoldInput(KLP_WindowID w, bool hold) override;

  // Loops running now, innermost last (for tests and the backends).
  uint32_t GetLoopDepth() const { return static_cast<uint32_t>(m_frames.size()); }

 protected:
  struct Window {
    KLP_WindowID id = 0;
    CKLP_WindowClient* client = nullptr;
    KLP_Rect bounds = {0, 0, 0, 0};
    uint8_t layer = klpLayerDocument;
    KLP_WindowID parent = 0;
    bool visible = false;
    std::string title;
    bool modal = false;
    std::vector<uint8_t> shape;  // empty = rectangular
    uint32_t shapeRowBytes = 0;
    uint32_t held = 0;     // holds of its input
    bool waiting = false;  // an event of it kept back in the scan under way
  };
  struct Frame {
    KLP_WindowID modalFor;
    bool done;
  };

  Window* Find(KLP_WindowID w);
  // The active window when visible, else the front visible one; 0 = none.
  KLP_WindowID FrontWindow();
  // Where a platform dialog asked over parent goes: parent while it
  // exists, else the front window.
  KLP_WindowID DialogParent(KLP_WindowID parent);
  // A new record at the front of its group; null for an empty size.
  Window* AddRecord(const KLP_WindowDesc& desc, CKLP_WindowClient* client);
  // Sends the dispose event, drops the window's queued events, forgets it.
  void DisposeRecord(KLP_WindowID w);
  // To the front of its group.
  void Raise(KLP_WindowID w);
  // Queues deactivation of the old active window and activation of w.
  void Activate(KLP_WindowID w);
  // The active window w goes (hidden, or disposed while its record is
  // still there): the window under it is selected at once, as the desktop
  // hands it the keys, so no press on it waits for the desktop's word.
  // Nothing when w is not the active window.
  void HandOver(KLP_WindowID w);
  // Who takes over from w: its nearest visible ancestor, else the front
  // visible window that is not w's own; 0 for none.
  KLP_WindowID Successor(KLP_WindowID w);
  bool InsideShape(const Window& win, KLP_Point global) const;
  // The first queued event of the classes in mask that is not kept back
  // for a held window; end() when none.
  std::deque<KLP_Event>::iterator NextEvent(uint32_t mask);
  // Whether a release of the left button for the window waits in the
  // queue: the press being handled has already ended.
  bool ReleaseQueued(KLP_WindowID w) const;
  // Queues an event; backends hear of it through Posted.
  void Post(const KLP_Event& e);
  void PostWindowEvent(KLP_WindowID w, uint16_t kind);
  // Marks the innermost loop run for the window done; its frame, or -1.
  int32_t MarkQuit(KLP_WindowID modalFor);
  virtual void Posted() {}

  size_t PushFrame(KLP_WindowID modalFor);
  bool FrameDone(size_t f) const { return m_frames[f].done; }
  void PopFrame() { m_frames.pop_back(); }
  // Input goes to the innermost modal loop's window and its descendants.
  bool InputAllowed(KLP_WindowID w);

  std::vector<std::unique_ptr<Window>> m_z;  // front first
  std::deque<KLP_Event> m_queue;
  std::vector<Frame> m_frames;
  KLP_WindowID m_active;
  KLP_WindowID m_nextId;
  std::function<void(const KLP_Event&)> m_observer;
};
