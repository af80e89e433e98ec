// The status tips of every window of the plug-in: a fixed text by window,
// control (or zone) name, control type and the window's state. Names match
// whatever their case.
#include <strings.h>

#include <cstring>

#include "CApp.h"

namespace {

struct TIP {
  const char* name;
  const char* text;
};

const char kReady[] = "\nReady...";
const char kHelpTip[] = "Click for Help, On-line User Guide, About, etc.";
const char kEditTip[] = "Type a value, or change it with the Up and Down keys or the mouse wheel.";

enum : u8 { kSlider = 1, kStaticImage = 2, kButton = 5, kRadio = 6, kCheckBox = 7, kEditLine = 8 };

bool Same(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

bool EndsWith(const char* s, const char* end) {
  const size_t n = std::strlen(s), m = std::strlen(end);
  return n >= m && strcasecmp(s + n - m, end) == 0;
}

const char* Find(const TIP* tips, size_t count, const char* name) {
  for (size_t i = 0; i < count; ++i)
    if (Same(tips[i].name, name)) return tips[i].text;
  return nullptr;
}

template <size_t N>
const char* Find(const TIP (&tips)[N], const char* name) {
  return Find(tips, N, name);
}

// ---- The channel selection dialog, for knives (state 1) and pieces.

const TIP kChannelsCommon[] = {
    {"ChannelList_Help", kHelpTip},
    {"ChannelList_CloseX", "Click the button to close the window without loading a selection."},
    {"ChannelList_Cancel", "Click the button to close the window without loading a selection."},
    {"ChannelList_Invert", "Check the box to invert the channel: its dark areas select, its light areas do not."},
    {"Zone_Preview", "The chosen channel as it will select. Dark areas select."},
    {"ChannelList_List", "The channels of the document. Click a channel to see it in the preview."},
};
const TIP kChannelsKnives[] = {
    {"ChannelList_Ok", "Click the button to select the knives at the knots the channel marks."},
    {"ChannelList_SelNew", "New selection: the knives the channel marks become the selected knives."},
    {"ChannelList_SelAdd", "Add: the knives the channel marks join the selected knives."},
    {"ChannelList_SelSub", "Subtract: the knives the channel marks leave the selection."},
    {"ChannelList_SelInter", "Intersect: only the selected knives that the channel marks stay selected."},
};
const TIP kChannelsPieces[] = {
    {"ChannelList_Ok", "Click the button to select the pieces the channel marks."},
    {"ChannelList_SelNew", "New selection: the pieces the channel marks become the selected pieces."},
    {"ChannelList_SelAdd", "Add: the pieces the channel marks join the selected pieces."},
    {"ChannelList_SelSub", "Subtract: the pieces the channel marks leave the selection."},
    {"ChannelList_SelInter", "Intersect: only the selected pieces that the channel marks stay selected."},
};

const char* ChannelsTip(const char* name, u8 state) {
  const u8 knives = state == 1;
  if (const char* t = Find(kChannelsCommon, name)) return t;
  if (const char* t = knives ? Find(kChannelsKnives, name) : Find(kChannelsPieces, name)) return t;
  return knives ? "The Load Selection window. Choose a channel of the document to select\nthe knives at the knots it marks."
                : "The Load Selection window. Choose a channel of the document to select\nthe pieces it marks.";
}

// ---- The effect windows.

const TIP kEffectEnds[] = {
    {"_CloseX", "Click the button to close the window without keeping the changes."},
    {"_Help", kHelpTip},
    {"_Cancel", "Click the button to close the window without keeping the changes."},
    {"_Ok", "Click the button to keep the changes and close the window."},
    {"_Reset", "Click the button to bring every parameter of the effect back to its default."},
};
const TIP kEffectNamed[] = {
    {"FXbevel_HLOpacity", "The opacity of the bevel's highlight."},
    {"FXbevel_SHOpacity", "The opacity of the bevel's shadow."},
    {"FXBevel_LightThumb", "Drag the light to choose where the bevel is lit from."},
    {"Zone_Bevel_3DLight", "Drag the light to choose where the bevel is lit from."},
    {"Zone_Bevel_HLSwatch", "Click the swatch to choose the colour of the highlight."},
    {"Zone_Bevel_SHSwatch", "Click the swatch to choose the colour of the shadow."},
    {"FXcovr_Color1", "Click the swatch to choose the overlay's colour."},
    {"FXcovr_Color2", "Click the swatch to choose the overlay's second colour, where the spread ends."},
    {"FXcovr_AColor", "Check the box to spread the overlay's colour from the first to the second."},
    {"FXstroke_Color1", "Click the swatch to choose the stroke's colour."},
    {"FXstroke_Color2", "Click the swatch to choose the stroke's second colour, where the spread ends."},
    {"FXstroke_AColor", "Check the box to spread the stroke's colour from the first to the second."},
    {"FXmblur_Dir1", "Drag to choose the direction of the motion blur."},
    {"FXmblur_Dir2", "Drag to choose the second direction, the end of the spread over the pieces."},
    {"FXiovr_ChooseImage", "Click the button to choose the document layer laid over the pieces."},
};

const char* EffectTip(const char* name, u8 type) {
  if (type == kEditLine) return kEditTip;
  for (const TIP& t : kEffectEnds)
    if (EndsWith(name, t.name)) return t.text;
  if (type == kStaticImage && (EndsWith(name, "_Object") || EndsWith(name, "_Object2")))
    return "The live preview of the effect on a sample piece.";
  if (type == kCheckBox && EndsWith(name, "_Preview")) return "Check the box to see the effect on the image as you change it.";
  if (type == kCheckBox && EndsWith(name, "_AAdjust"))
    return "Check the box to spread the parameters over the pieces between two values.";
  if (type == kButton && EndsWith(name, "_Preview")) return "Click the button to see the effect on the image now.";
  if (EndsWith(name, "_ARND")) return "Click the button to deal the spread values to the pieces at random again.";
  if (type == kRadio) return "Choose the direction in which the values spread over the pieces.";
  if (const char* t = Find(kEffectNamed, name)) return t;
  if (type == kCheckBox) return "Check the box to spread this parameter over the pieces between two values.";
  if (type == kSlider) return "Drag the slider to change the value.";
  return "Use the controls located in this window and adjust the \nparameters of the effect.";
}

// ---- The auto layout dialog.

const TIP kAutoLayout[] = {
    {"AutoLayout_CloseX", "Click the button to close the window without a new layout."},
    {"AutoLayout_Help", kHelpTip},
    {"AutoLayout_Ok", "Click the button to lay out the knives as chosen."},
    {"AutoLayout_Cancel", "Click the button to close the window without a new layout."},
    {"AutoLayout_Tri", "Triangles: rows of triangles, every second one upside down."},
    {"AutoLayout_Hex", "Hexagons: columns of hexagons, every second one shifted half a cell."},
    {"AutoLayout_Regular", "Check the box for shapes with equal sides, centred in the image with\nmargins; else they stretch over it."},
    {"AutoLayout_Rows", "The number of rows of shapes."},
    {"AutoLayout_Cols", "The number of shapes in a row (triangles) or of columns (hexagons)."},
};

// ---- The preset manager.

const TIP kPresets[] = {
    {"PresMng_CloseX", "Click the button to close the preset manager."},
    {"PresMng_Help", kHelpTip},
    {"PresMng_Done", "Click the button to close the preset manager."},
    {"PresMng_SaveSet", "Click the button to save the presets as a shape set file."},
    {"PresMng_ReplaceSet", "Click the button to replace the presets by a shape set file."},
    {"PresMng_LoadSet", "Click the button to add the shapes of a shape set file to the presets."},
    {"PresMng_LoadShape", "Click the button to add a knife shape file to the presets."},
    {"PresMng_RenShape", "Click the button to rename the selected shape."},
    {"PresMng_DelShape", "Click the button to delete the selected shapes."},
    {"PresMng_Sort", "Click the button to sort the shapes by name."},
    {"PresMng_Sico", "Click the button to show the shapes as small icons."},
    {"PresMng_Lico", "Click the button to show the shapes as large icons."},
    {"PresMng_List", "The shapes of the presets. Click a shape to select it."},
    {"PresMng_BigIcoBg", "The selected shape, large."},
    {"PresMng_SmallIcoBg", "The shapes of the presets as icons. Click a shape to select it."},
    {"PresMng_ToCutter", "Click the button to give the selected shape to the Cutter."},
    {"PresMng_ToCutterClose", "Click the button to give the selected shape to the Cutter and close\nthe preset manager."},
};

// ---- The preferences dialog.

const TIP kPreferences[] = {
    {"Pref_CloseX", "Click the button to close the window without keeping the changes."},
    {"Pref_Help", kHelpTip},
    {"Pref_Cancel", "Click the button to close the window without keeping the changes."},
    {"Pref_Ok", "Click the button to keep the preferences and close the window."},
    {"Pref_FCB", "The area around the image shows as a checkerboard of two colours."},
    {"Pref_FSolid", "The area around the image shows in one solid colour."},
    {"Pref_TCB", "Transparency in the image shows as a checkerboard of two colours."},
    {"Pref_TSolid", "Transparency in the image shows in one solid colour."},
    {"Pref_FitOnLoad", "Check the box to fit the whole image in the preview when the window opens."},
    {"Pref_DisOpacity", "The opacity, in per cent, of hidden knives (10 to 50)."},
    {"Zone_SwatchT", "Click a swatch to choose a colour of the transparency checkerboard."},
    {"Zone_SwatchF", "Click a swatch to choose a colour of the checkerboard around the image."},
    {"Zone_SwatchTS", "Click the swatch to choose the solid colour of transparency."},
    {"Zone_SwatchFS", "Click the swatch to choose the solid colour around the image."},
    {"Zone_Preview", "How the preview will show transparency and the area around the image."},
};

// ---- The export dialogs.

const TIP kExport[] = {
    {"Export_Help", kHelpTip},
    {"Export_CloseX", "Click the button to close the window without exporting."},
    {"Export_Export", "Click the button to choose where the pieces are written, and write them."},
    {"Export_Cancel", "Click the button to close the window without exporting."},
    {"Export_Merged", "Check the box to write the pieces merged into one image."},
    {"Export_Selected", "Export the selected pieces only."},
    {"Export_Composite", "Check the box to write the composed image as well."},
    {"Export_All", "Export every piece."},
    {"Export_ToPSD", "Write one layered PSD file, a layer a piece."},
    {"Export_Hidden", "Check the box to export hidden pieces too."},
    {"Export_ToPNG", "Write a group of PNG files, a file a piece."},
    {"Export_FullCanvas", "Check the box to write each piece on the whole canvas, at its place."},
    {"Export_NamingSimple", "Name the pieces by number."},
    {"Export_NamingExtended", "Name the pieces by number, column and row."},
    {"Export_WOBevel", "Check the box to export the pieces without their bevel."},
    {"Zone_Display", "What the export writes."},
    {"Zone_DisplayNaming", "How the exported pieces are named."},
};
const TIP kExportLM[] = {
    {"ExportLM_Help", kHelpTip},
    {"ExportLM_CloseX", "Click the button to close the window without exporting."},
    {"ExportLM_Cancel", "Click the button to close the window without exporting."},
    {"ExportLM_All", "Export every knife."},
    {"ExportLM_Selected", "Export the selected knives only."},
    {"ExportLM_ToEPS", "Write the knives as an EPS file."},
    {"ExportLM_ToAI", "Write the knives as an AI file."},
    {"ExportLM_Export", "Click the button to choose where the knives are written, and write them."},
    {"Zone_Display", "What the export writes."},
};

// ---- The Cutter.

const TIP kCutter[] = {
    {"Cutter_CloseX", "Click the button to close the Cutter without cutting."},
    {"Cutter_Help", kHelpTip},
    {"Cutter_Cancel", "Click the button to close the Cutter without cutting."},
    {"Cutter_Reset", "Click the button to bring back the layout the Cutter opened with."},
    {"Cutter_Cut", "Click the button to cut the image into pieces and go to Puzzle mode."},
    {"Zone_Preview", "The knife's shape. Drag the nodes to shape it; Shift drags a box\naround several."},
    {"Cutter_FlipH", "Click the button to mirror the shape across the knife."},
    {"Cutter_FlipU", "Click the button to mirror the shape along the knife."},
    {"Cutter_Undo", "Click the button to undo the last change of the shape."},
    {"Cutter_Redo", "Click the button to redo the change undone last."},
    {"Cutter_1x1", "Click a zoom button to see the shape larger or smaller."},
    {"Cutter_1x2", "Click a zoom button to see the shape larger or smaller."},
    {"Cutter_1x4", "Click a zoom button to see the shape larger or smaller."},
    {"Cutter_Smoothness", "The smoothness of the selected nodes."},
    {"Cutter_Save", "Click the button to save the shape as a knife shape file."},
    {"Cutter_Load", "Click the button to load a knife shape file."},
    {"Cutter_Presets", "Click the button to open the Presets Manager and take a kept knife shape."},
    {"Cutter_AddToPM", "Click the button to add the shape to the presets."},
    {"Cutter_Clone", "Click the button to choose how the shape is cloned: plain, or mutated."},
    {"Cutter_ReClone", "Click the button to give the shape to the knives again, with new mutations."},
    {"Cutter_CloneDisp", "How the shape is cloned onto the knives: plain, or mutated."},
    {"Cutter_Rows", "The number of rows of pieces."},
    {"Cutter_Columns", "The number of columns of pieces."},
    {"Cutter_LinkRC", "Check the box to keep rows and columns in step, so the pieces stay square."},
    {"Cutter_AutoLayout", "Click the button to lay out the knives as triangles or hexagons."},
    {"Cutter_TipsSize", "The size of the knives' knobs, in per cent."},
    {"Cutter_KnifeTh", "The thickness of the knives, in pixels."},
    {"Cutter_RazorCut", "Check the box for razor cuts: knives a pixel thin, the pieces touching."},
    {"Cutter_AntiAliasing", "Check the box to cut with smooth, anti-aliased edges."},
};

// ---- The main window: the names of every state, then Puzzle mode's and
// Layout mode's.

const TIP kMainCommon[] = {
    {"Main_CloseX", "Click the button to close the window without applying."},
    {"Main_Cancel", "Click the button to close the window without applying."},
    {"Main_Help", kHelpTip},
    {"Main_Ruler", "The rulers of the preview, in the unit chosen from their menu."},
    {"Zone_Status", "The status line: what the control under the mouse does, and the progress\nof long work."},
    {"Main_Zoom", "Drag the slider to zoom the preview, from 1:16 to 16:1."},
    {"Main_Navigator", "The whole image. Drag the frame to move the preview's view."},
    {"Main_RulerCover_Top", "The rulers of the preview, in the unit chosen from their menu."},
    {"Main_RulerCover_Left", "The rulers of the preview, in the unit chosen from their menu."},
};
const TIP kMainPuzzle[] = {
    {"Main_Main", "Click the button for the main menu: undo, save, load, export, relayout,\napply, preferences."},
    {"Main_Select", "Click the button for the selection menu of the pieces."},
    {"Main_Adjust", "Click the button for the effects and visibility menu of the pieces."},
    {"Main_Export", "Click the button to export the pieces as a PSD file or PNG files."},
    {"Main_Apply", "Click the button to apply the puzzle to the image and close the window."},
    {"Main_HideExtras", "Click the button to hide the marks of the selected pieces."},
    {"Main_ShowExtras", "Click the button to show the marks of the selected pieces."},
    {"Main_Relayout", "Click the button to go back to Layout mode and the Cutter, keeping the\npieces' effects."},
    {"Main_Show",
     "Click the button to turn ON (show) the selected hidden pieces. NO selection - ALL hidden pieces will be "
     "shown."},
    {"Main_Hide", "Click the button to turn OFF (hide) the selected pieces. NO selection - ALL pieces will be\nhidden."},
    {"Main_RevShowHide", "Click the button to show the hidden pieces and hide the shown ones."},
    {"Zone_Preview",
     "The puzzle. Click a piece to select it; Shift adds, Ctrl-click toggles;\ndrag for a rectangle, "
     "Ctrl+Shift-drag for a lasso; Alt deselects."},
    {"Zone_HSplitter", "The split ruler of the columns."},
    {"Zone_VSplitter", "The split ruler of the rows."},
    {"Main_FXBevel",
     "Bevel effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the effect."},
    {"Main_FXHSL",
     "Hue/Saturation effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXBC",
     "Brightness/Contrast effect. Click the button to open the effect window or the ON/OFF switch to "
     "enable/disable the effect."},
    {"Main_FXBlur",
     "Gaussian Blur effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXMBlur",
     "Motion Blur effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXOpacity",
     "Opacity effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXCOver",
     "Color Overlay effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXIOver",
     "Image Overlay effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
    {"Main_FXStroke",
     "Stroke effect. Click the button to open the effect window or the ON/OFF switch to enable/disable the "
     "effect."},
};
const TIP kMainLayout[] = {
    {"Main_Main", "Click the button for the main menu: undo, save, load, export, apply,\npreferences."},
    {"Main_Select", "Click the button for the selection menu of the knives."},
    {"Main_Adjust", "Click the button for the knives menu: visibility, extra knives, copy,\npaste and flips."},
    {"Main_ResetKnots", "Click the button to put every knot back on its grid crossing."},
    {"Main_RndKnots", "Drag the slider to move the knots off their grid crossings at random,\nby up to this share."},
    {"Main_AddKnives", "To add extra knife, select any two knots (except neighboring) and then, click the button."},
    {"Main_DelKnives", "Click the button to delete the selected extra knives."},
    {"Main_Show",
     "Click the button to turn ON (show) the selected hidden knives. NO selection - ALL hidden knives will be "
     "shown."},
    {"Main_Hide", "Click the button to turn OFF (hide) the selected knives. NO selection - ALL knives will be\nhidden."},
    {"Main_RevShowHide", "Click the button to show the hidden knives and hide the shown ones."},
    {"Main_Export", "Click the button to export the knives as an EPS or AI file."},
    {"Main_ApplyLM", "Click the button to draw the knives into the image and close the window."},
    {"Main_HideExtras", "Click the button to hide the knot handles."},
    {"Main_ShowExtras", "Click the button to show the knot handles."},
    {"Zone_Preview",
     "The layout. Click a knife to select it; Shift-click selects a block,\nCtrl-click toggles; drag a knot "
     "or a split line to move it."},
    {"Zone_HSplitter", "The split ruler of the columns: drag a mark to move its line."},
    {"Zone_VSplitter", "The split ruler of the rows: drag a mark to move its line."},
};

const char* MainTip(const char* name, u8 state, u8 type) {
  if (type == kButton && EndsWith(name, "Main_Ruler")) return "Click the button for menu";
  if (const char* t = Find(kMainCommon, name)) return t;
  if (state == 3 || state == 4) {
    if (const char* t = Find(kMainPuzzle, name)) return t;
  } else if (state == 2) {
    if (type == kButton && EndsWith(name, "Main_RndKnots"))
      return "Click the button to move the knots at random again, by the share the slider shows.";
    if (type == kEditLine) return "Type the share, in per cent, by which the knots move off their grid\ncrossings.";
    if (const char* t = Find(kMainLayout, name)) return t;
  }
  return " The Main window of Kelvanos Tessarette 3.0.";
}

}  // namespace

const char* CApp::GetStatusTip(const CKLF_String& control, const CKLF_String& window, u8 state, u8 type) {
  const char* name = control.GetStr();
  const char* w = window.GetStr();
  if (Same(w, "ChannelsList")) return ChannelsTip(name, state);
  if (Same(w, "Effect")) return EffectTip(name, type);
  if (Same(w, "AutoLayout")) {
    if (type == kEditLine) return kEditTip;
    const char* t = Find(kAutoLayout, name);
    return t ? t : "The Auto Layout window. Choose triangles or hexagons and how many, then\nclick OK.";
  }
  if (Same(w, "PresetsManager")) {
    const char* t = Find(kPresets, name);
    return t ? t : "The Presets Manager window. Keep, name and sort knife shapes, and give\nthem to the Cutter.";
  }
  if (Same(w, "Preferences")) {
    const char* t = Find(kPreferences, name);
    return t ? t : "The Preferences window. Choose how the preview shows transparency and\nhidden knives.";
  }
  if (Same(w, "Export")) {
    const char* t = Find(kExport, name);
    return t ? t : "The Export (Puzzle Mode) window. Use the controls located in this \nwindow for exporting puzzle pieces.";
  }
  if (Same(w, "ExportLM")) {
    const char* t = Find(kExportLM, name);
    return t ? t : "The Export (Layout Mode) window. Use the controls located in \nthis window for exporting knives.";
  }
  if (Same(w, "Cutter")) {
    if (type == kEditLine) return kEditTip;
    const char* t = Find(kCutter, name);
    return t ? t : "The Cutter window. Shape the knife, set the rows and columns, and cut.";
  }
  if (Same(w, "Main")) return MainTip(name, state, type);
  return kReady;
}
