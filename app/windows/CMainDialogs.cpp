#include "CMainDialogs.h"

#include <cstring>

#include "CExportKnives.h"
#include "CExportRun.h"
#include "CKLF_PlatformFileDialog.h"
#include "CLayoutModel.h"
#include "CMainWindowPort.h"
#include "CPluginChannelSource.h"
#include "CPluginMain.h"
#include "CWnd_ChannelList.h"
#include "CWnd_Export.h"
#include "CWnd_ExportLM.h"
#include "CWnd_Pref.h"

namespace {

// The export run's alerts go to the main window, which remembers that the
// user was told.
struct AlertSink {
  CMainWindowPort* port;
  u8 shown;
  static void Show(const char* text, const char* title, void* user) {
    auto* sink = static_cast<AlertSink*>(user);
    sink->port->Alert(text, title);
    sink->shown = 1;
  }
};

enum : u8 { kAskCancelled = 0, kAskChosen = 1, kAskNoMemory = 2 };

// The save question for one kind of file: the chosen path with its
// extension (kAskChosen), a cancel, or no memory for the question or the
// path (the user is told, by the dialog for its own).
u8 AskPath(CMainWindowPort& port, const char* filter, const char* extension, const char* title, const char* name,
           u8 confirmReplace, CKLF_String& path) {
  CKLF_PlatformFileDialog dialog;
  CKLF_StringArray extensions;
  if (extensions.Add(extension, 0) < 0 || !dialog.AddFilter(filter, &extensions, 0)) {
    port.Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
    return kAskNoMemory;
  }
  dialog.SetWindowTitle(title);
  dialog.SetDefaultSaveName(name);
  if (!dialog.DoFileSavePathDialog(port.GetMainWindow(), confirmReplace))
    return dialog.GetError() == klErrNoMemory ? kAskNoMemory : kAskCancelled;
  if (!CMainDialogs::WithExtension(dialog.GetSavePath().c_str(), extension, path)) {
    port.Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
    return kAskNoMemory;
  }
  return kAskChosen;
}

// Settings that cannot be stored: the user is told, nothing is exported.
CMainDialogs::EXPORTED NotStored(CMainWindowPort& port, CKLF_Storage* conf) {
  port.Alert(conf->GetError() == klErrNoMemory ? CLayoutView::kMemoryProblem : CExportWriters::kCannotWrite,
             CLayoutView::kErrorTitle);
  return CMainDialogs::EXPORTED{CMainDialogs::kFailed, 0, 0};
}

// A failure the export itself did not tell the user of.
void TellFailure(CMainWindowPort& port, const AlertSink& sink, u16 error) {
  if (sink.shown || !error) return;
  port.Alert(error == klErrNoMemory ? CLayoutView::kMemoryProblem : CExportWriters::kCannotWrite,
             CLayoutView::kErrorTitle);
}

CMainDialogs::EXPORTED ExportPieces(CMainWindowPort& port, CPluginMain& plugin, CTessarette& engine,
                                    const CExportDialogModel::SETTINGS& s) {
  typedef CExportDialogModel M;
  CMainDialogs::EXPORTED out = {CMainDialogs::kCancelled, 0, 0};
  const u8 psd = s.to == M::kToPSD;
  CKLF_String path;
  // PNG files take the typed name with their suffixes; only a merged image
  // is written under the typed name itself.
  const u8 asked = AskPath(port, psd ? "Adobe Photoshop Document (.psd)" : "PNG Image (.png)", psd ? "psd" : "png",
                           psd ? "Export Pieces as Layered PSD..." : "Export Pieces as PNG Files...",
                           psd ? "Pieces.psd" : "Pieces.png", psd || s.what == M::kMerged, path);
  if (asked != kAskChosen) {
    if (asked == kAskNoMemory) out.outcome = CMainDialogs::kFailed;
    return out;
  }
  const kltPLUGINDATA_s& pd = *plugin.GetPluginDataPtr();
  CExportRun run(engine);
  run.SetDocument({static_cast<u16>(pd.wholeSize.horizontal), static_cast<u16>(pd.wholeSize.vertical),
                   pd.filterArea.left, pd.filterArea.top, pd.resolutionH, pd.resolutionV, pd.iccProfile,
                   pd.iccProfileSize});
  AlertSink sink = {&port, 0};
  run.SetAlert(AlertSink::Show, &sink);
  run.SetProgress(port.BeginProgress(CMainDialogs::kExporting));
  const u8 ok = run.ExportPieces(s, path.GetStr());
  port.EndProgress();
  out.files = run.Written().GetSize();
  out.skipped = run.Skipped();
  out.outcome = ok ? CMainDialogs::kExported : run.GetError() ? CMainDialogs::kFailed : CMainDialogs::kCancelled;
  if (!ok) TellFailure(port, sink, run.GetError());
  return out;
}

}  // namespace

u8 CMainDialogs::WithExtension(const char* path, const char* extension, CKLF_String& out) {
  if ((out = path ? path : "").IsError()) return 0;
  const size_t n = out.GetLength(), e = extension ? std::strlen(extension) : 0;
  const char* p = out.GetStr();
  u8 has = e > 0 && n > e && p[n - e - 1] == '.';
  for (size_t i = 0; has && i < e; ++i) {
    char a = p[n - e + i], b = extension[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    has = a == b;
  }
  return !(e > 0 && !has) || (!(out += ".").IsError() && !(out += extension).IsError());
}

i32 CMainDialogs::i_RunModal(CKLF_Window& dialog, CMainWindowPort& port, const char* name, const char* parent) {
  kltSIZE_s at = klNullSize;
  if (parent && !port.GetWindowPosition(name, parent, at)) {
    port.Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
    return dialog.Fail(klErrNoMemory, -1);
  }
  if (!dialog.CreateFromResource(name, static_cast<i16>(at.horizontal), static_cast<i16>(at.vertical),
                                 port.GetMainWindow(), 1))
    return -1;
  dialog.RenderRect(klNullRect);
  return dialog.DoModal();
}

CMainDialogs::EXPORTED CMainDialogs::DoExportDialog(CMainWindowPort& port, CTessarette& engine) {
  EXPORTED out = {kNotOpened, 0, 0};
  CPluginMain* plugin = port.GetPluginObject();
  if (!plugin) return out;
  if (plugin->GetPluginDataPtr()->colorKind != 1) {
    port.AskMessageBox(kUnsupportedHeader, kUnsupportedText, 0, 1);
    out.outcome = kRefused;
    return out;
  }
  CKLF_Storage* conf = plugin->ConfStorage_GetStorage();
  CWnd_Export dialog(port, CExportDialogModel::Count(engine), CExportDialogModel::Read(conf));
  const i32 r = i_RunModal(dialog, port, CWnd_Export::kName, "Main");
  if (r != 1) {
    out.outcome = r < 0 ? kNotOpened : kCancelled;
    return out;
  }
  if (conf && !CExportDialogModel::Write(conf, dialog.GetModel().Settings())) return NotStored(port, conf);
  return ExportPieces(port, *plugin, engine, dialog.GetModel().Effective());
}

CMainDialogs::EXPORTED CMainDialogs::DoExportLMDialog(CMainWindowPort& port, CLayoutModel& layout) {
  typedef CExportLMDialogModel M;
  EXPORTED out = {kNotOpened, 0, 0};
  CPluginMain* plugin = port.GetPluginObject();
  if (!plugin) return out;
  CKLF_Storage* conf = plugin->ConfStorage_GetStorage();
  CWnd_ExportLM dialog(port, M::Count(layout), M::Read(conf));
  const i32 r = i_RunModal(dialog, port, CWnd_ExportLM::kName, "Main");
  out.outcome = r < 0 ? kNotOpened : kCancelled;
  if (r != 1) return out;
  const M::SETTINGS s = dialog.GetModel().Settings();
  if (conf && !M::Write(conf, s)) return NotStored(port, conf);
  const u8 ai = s.to == M::kToAI;
  CKLF_String path;
  const u8 asked = AskPath(port, ai ? "Adobe Illustrator (.ai)" : "Encapsulated PostScript (.eps)", ai ? "ai" : "eps",
                           ai ? "Export Knives as AI..." : "Export Knives as EPS...", ai ? "Knives.ai" : "Knives.eps", 1,
                           path);
  if (asked != kAskChosen) {
    if (asked == kAskNoMemory) out.outcome = kFailed;
    return out;
  }
  const kltPLUGINDATA_s& pd = *plugin->GetPluginDataPtr();
  CExportKnives knives(layout);
  knives.SetDocument({pd.filterArea.left, pd.filterArea.top, pd.resolutionH, pd.resolutionV});
  const u8 ok = knives.ExportKnives(s, path.GetStr());
  out.files = ok ? 1 : 0;
  out.outcome = ok ? kExported : kFailed;
  if (!ok) TellFailure(port, AlertSink{&port, 0}, knives.GetError());
  return out;
}

u8 CMainDialogs::DoChannelDialog(CMainWindowPort& port, const CKLF_Image* thumbnail, u8 combineAllowed, u8 knives,
                                 CKLF_Mem& map, CLayoutView::CHANNELMAP& choice) {
  CPluginMain* plugin = port.GetPluginObject();
  if (!plugin) return 0;
  CPluginChannelSource source(*plugin);
  CWnd_ChannelList dialog(port, source);
  dialog.combineAllowed = combineAllowed;
  dialog.knives = knives;
  dialog.thumbnail = thumbnail;
  if (i_RunModal(dialog, port, CWnd_ChannelList::kName, "MAIN") != 1) return 0;
  const CChannelListModel& m = dialog.GetModel();
  const u64 size = static_cast<u64>(m.Width()) * m.Height();
  if (!m.Map() || !klFits32(size) || !map.alloc(static_cast<u32>(size))) return 0;
  std::memcpy(map.GetPtr(), m.Map(), static_cast<size_t>(size));
  choice = {m.mode, m.invert, map.GetPtr(), m.Width(), m.Height(), m.Width()};
  return 1;
}

u8 CMainDialogs::DoPrefDialog(CMainWindowPort& port, CPreferences& prefs) {
  CWnd_Pref dialog(port, prefs);
  if (i_RunModal(dialog, port, CWnd_Pref::kName, nullptr) != 1) return 0;
  prefs = dialog.GetValues();
  CPluginMain* plugin = port.GetPluginObject();
  CKLF_Storage* store = plugin ? plugin->ConfStorage_GetStorage() : nullptr;
  if (store && !prefs.Write(store))
    port.Alert(store->GetError() == klErrNoMemory ? "Memory allocation problem..." : "Cannot write file...", "Error!");
  return 1;
}
