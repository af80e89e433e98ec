// The toolkit's application object: one while the user interface runs,
// reached through m_App. It owns the UI resource store and the keyboard
// accelerator table, knows the main window, runs the application loop and
// offers the platform's services: clipboard text, beep, alert, timing.
//
// Accelerator table ("UIResources>Accelerators", a compressed block): 108-
// byte entries (a trailing part is ignored): byte 0 primary modifier held,
// 1 Option, 2 Shift, 3 non-zero when byte 0 means Command (else Control),
// 4 key (upper-case letter, digit, punctuation or F-key 220..231), 6-7 the
// command, little-endian.
#pragma once

#include "CKLF_Storage.h"
#include "KLP_File.h"

class CKLF_Window;

class CKLF_App : public CKLF_FrameWork {
 public:
  // The host's event procedure; it gets the application's window events.
  typedef void (*HostEventProc)(void* context, void* event);

  CKLF_App();
  ~CKLF_App() override;
  CKLF_App(const CKLF_App&) = delete;
  CKLF_App& operator=(const CKLF_App&) = delete;

  // Runs the application loop until the main window is disposed; 0.
  virtual i32 Run();
  virtual void PreCloseWindow(CKLF_Window*) {}
  // The virtual Run of m_App.
  static i32 DoAppSpecialModal();

  void SetMainWindow(CKLF_Window* w) { m_main = w; }
  CKLF_Window* GetMainWnd() const { return m_main; }
  void SetHostEventProc(HostEventProc proc, void* context) {
    m_hostProc = proc;
    m_hostContext = context;
  }

  // The store, read-only. The resource form has no resource to read on
  // this platform and fails with 160; the others take the store's errors.
  [[nodiscard]] u8 InitStorgaeResource(u8 checkMD5);
  [[nodiscard]] u8 InitStorgaeResource(const char* name, const KLP_FileRef* folder, u8 checkMD5);
  [[nodiscard]] u8 InitStorgaeResource(const char* path, u8 checkMD5);
  u8 CleanStorgaeResource() { return 1; }
  CKLF_Storage* GetStorage() { return m_storeOpen ? &m_store : nullptr; }
  // The folder of the store's file; empty when no store is open.
  const KLP_FileRef& GetStorageFolder() const { return m_storeFolder; }

  // The open store's accelerator table; a store without one has none (1).
  // 0 with the error when memory ran out or the record is damaged, the
  // table then empty. Opening a store loads it, and fails with it.
  [[nodiscard]] u8 LoadAcceleratorsFromStorage();
  const u8* GetAccelerators(u32& count) const {
    count = m_accelCount;
    return m_accelTable;
  }
  // 65535 when no entry matches.
  u16 GetAcceleratorCmd(u8 key, u8 control, u8 option, u8 shift, u8 command) const;
  // On a hit the window's OnCtrlMessage(0x150, command, null, 0, null) and
  // its answer; 65535 on a miss.
  u32 TranslateAccelerator(u8 key, CKLF_Window* window);
  u32 TranslateAccelerator(u8 key, u8 modifiers, CKLF_Window* window);

  u8 Clipboard_IsTextDataAvailable();
  [[nodiscard]] u8 Clipboard_GetText(CKLF_String& out);
  [[nodiscard]] u8 Clipboard_SetText(const CKLF_String& text);
  void SystemBeep();
  // A note alert with one OK button; both texts cut to 250 characters.
  void PlatformMessageBox(const char* text, const char* title, CKLF_Window* parent);
  static u32 GetDoubleClickTime();
  static u32 GetCaretDelay();
  static u32 GetPeriodicCounter();
  // 1 when the system's scroll bars have one arrow at each end.
  static u8 GetScrollStyle_TwoSideArrows();

 private:
  void i_CloseStore();
  [[nodiscard]] u8 i_OpenStore(u8 ok, const KLP_FileRef& folder);

  HostEventProc m_hostProc;
  void* m_hostContext;
  CKLF_Window* m_main;
  CKLF_Storage m_store;
  u8 m_storeOpen;
  KLP_FileRef m_storeFolder;
  CKLF_Mem m_accelBlock;
  const u8* m_accelTable;
  u32 m_accelCount;
};

// The application object of the current run, null outside one.
extern CKLF_App* m_App;
