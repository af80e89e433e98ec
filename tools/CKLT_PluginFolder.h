// A private folder for the plug-in, for settings too large for the
// scripting descriptor: a copy of the plug-in library beside a "last.data"
// that holds the block, so that the plug-in's replay, finding no settings
// in the descriptor, reads them from its folder as it reads the last
// run's (the plug-in's files are those of the folder its library was
// loaded from). Made under $TMPDIR (else /tmp); removed with what the
// plug-in put there when the object goes, and by RemoveOnSignal when the
// program ends on a signal.
//
// Cost: one copy of the library and of the block. Limits: one folder at a
// time in the process; the folder's file system must let a library run
// (not mounted noexec).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CKLT_PluginFolder {
 public:
  CKLT_PluginFolder() {}
  ~CKLT_PluginFolder() { Remove(); }
  CKLT_PluginFolder(const CKLT_PluginFolder&) = delete;
  CKLT_PluginFolder& operator=(const CKLT_PluginFolder&) = delete;

  // Makes the folder with a copy of the plug-in at plugin and block as its
  // "last.data". False with the reason (nothing left behind); noMemory
  // (when given) says that memory ran out.
  [[nodiscard]] bool Make(const std::string& plugin, const std::vector<uint8_t>& block, std::string& error,
                          bool* noMemory = nullptr);
  // The copy of the library to load (empty before Make).
  const std::string& Plugin() const { return m_plugin; }
  // Removes the folder and everything in it; false with the reason when
  // something stays.
  bool Remove(std::string* reason = nullptr);
  // Removes the folder's files as far as a signal handler can (the copy,
  // "last.data", the plug-in's "plugin.conf") and the folder.
  static void RemoveOnSignal();

 private:
  std::string m_folder;
  std::string m_plugin;
};
