// A plug-in shared library loaded with dlopen, its entry found by name.
// The library stays loaded until the object goes away.
#pragma once

#include <string>

#include "KLP_FilterHost.h"

class CKLT_PluginLibrary {
 public:
  CKLT_PluginLibrary() {}
  ~CKLT_PluginLibrary() { Unload(); }
  CKLT_PluginLibrary(const CKLT_PluginLibrary&) = delete;
  CKLT_PluginLibrary& operator=(const CKLT_PluginLibrary&) = delete;

  // False with a one-line reason when the library or its entry is missing
  // or the file is not a regular one (a FIFO is not opened);
  // noMemory (when given) says that the library found no room to load.
  [[nodiscard]] bool Load(const std::string& path, std::string& error, bool* noMemory = nullptr);
  void Unload();
  KLP_PluginMainProc Entry() const { return m_entry; }

  // Why the loader refused a file, from its message: no room (a segment
  // not mapped, pages not zero-filled, ENOMEM), a file system mounted
  // noexec (a segment not mapped there), or the file itself.
  enum Refusal { kFileRefused, kNoRoom, kNoExecMount };
  static Refusal Classify(const char* why, bool noExecMount);

  // The plug-in next to this program (or in the build tree's plugin folder),
  // unless TESSARETTE_PLUGIN names one.
  static std::string DefaultPath();

 private:
  void* m_handle = nullptr;
  KLP_PluginMainProc m_entry = nullptr;
};
