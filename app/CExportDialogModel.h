// The piece export dialog without its window: the seven settings and their
// records in the configuration store ("Export Settings>..."), the facts
// about the pieces the dialog opens with, the rules that check and enable
// its radio buttons and check boxes, the count of layers or files the
// export makes, the statistics text, the naming example and the question
// asked before a very large export. The naming patterns are the export
// run's own, so the example shows what the run writes.
//
// Cost: counting the facts is one pass over the pieces; the rest is
// constant. Limits: counts up to the engine's 99999 pieces.
#pragma once

#include "CKLF_String.h"

class CKLF_Storage;
class CTessarette;

class CExportDialogModel {
 public:
  enum : u8 { kMerged = 1, kSelected = 2, kAll = 3 };
  enum : u8 { kToPSD = 1, kToPNG = 2 };
  enum : u8 { kSimple = 1, kExtended = 2 };
  // Above these the export asks first.
  static constexpr u32 kManyLayers = 100;
  static constexpr u32 kManyFiles = 500;

  // In the order of their records.
  struct SETTINGS {
    u8 what;
    u8 to;
    u8 naming;
    u8 composite;     // the unselected shown pieces as one more layer
    u8 withoutBevel;
    u8 hidden;        // hidden pieces as hidden layers (PSD)
    u8 fullCanvas;    // PNG: each piece on a canvas of the document's size
  };
  // What the dialog opens with.
  struct FACTS {
    u8 anySelected;
    u8 notAllSelected;
    u8 unselectedShown;
    u8 anyHidden;
    u32 pieces;
    u32 selected;
    u32 selectedHidden;
    u32 hidden;
  };
  // A radio button or check box of the dialog as the settings make it.
  struct CONTROL {
    const char* name;
    u8 enabled;
    u8 checked;  // radio buttons and check boxes
  };
  static constexpr u32 kControls = 12;

  static const char* const kFolder;  // "Export Settings"

  static SETTINGS Defaults();
  // The defaults, then each record that exists (a null store: defaults).
  static SETTINGS Read(CKLF_Storage* store);
  // The folder and the seven records; 0 with the store's error kept there.
  [[nodiscard]] static u8 Write(CKLF_Storage* store, const SETTINGS& s);
  static FACTS Count(const CTessarette& engine);

  // Layer and file names of the export: piece number is the piece's index
  // plus 1, number the layer's or file's place in the export (from 1). 0
  // without memory for the name.
  [[nodiscard]] static u8 LayerName(u8 naming, u32 number, u32 piece, u32 row, u32 column, CKLF_String& out);
  [[nodiscard]] static u8 FileSuffix(u8 naming, u32 number, u32 piece, u32 row, u32 column, CKLF_String& out);

  // Whether the control named is enabled in a list (0 when not there).
  static u8 EnabledIn(const CONTROL* controls, u32 count, const char* name);
  // The statistics text both export dialogs show: header, counts, result;
  // 0 without memory for it.
  [[nodiscard]] static u8 StatisticsText(const char* header, const FACTS& f, const char* result, CKLF_String& out);

  CExportDialogModel(const FACTS& facts, const SETTINGS& settings);

  // Applies the rules (with What = Selected and nothing selected, What
  // becomes All) and recounts.
  void OnChangeSettings();
  // The control named was set on or off by the user (a radio button
  // chooses its value); the rules are applied again. 0 for an unknown name.
  u8 OnControl(const char* name, u8 on);

  const SETTINGS& Settings() const { return m_settings; }
  // The settings the export runs with: those whose controls are disabled
  // count as off.
  SETTINGS Effective() const;
  const CONTROL* Controls() const { return m_controls; }
  // 1 when the control is enabled (0 for an unknown name).
  u8 IsEnabled(const char* name) const { return EnabledIn(m_controls, kControls, name); }
  u32 Result() const { return m_result; }
  u8 CanExport() const { return m_result > 0; }

  // The texts; 0 without memory for them.
  [[nodiscard]] u8 DisplayText(CKLF_String& out) const;
  [[nodiscard]] u8 NamingExample(CKLF_String& out) const;
  // Whether OK asks first (ask), with the message box's header and text; 0
  // without memory for them.
  [[nodiscard]] u8 Question(CKLF_String& header, CKLF_String& text, u8& ask) const;

 private:
  void i_Set(u32 slot, const char* name, u8 enabled, u8 checked);

  FACTS m_facts;
  SETTINGS m_settings;
  u8 m_compositeAllowed;
  u8 m_hiddenAllowed;
  u8 m_fullCanvasAllowed;
  u32 m_result;
  CONTROL m_controls[kControls];
};
