// The About window, drawn wholly from the resource "About". It runs as the
// application's window for the host's About call, or modally from the
// Help menu; a click of either button, a key pressed, or the release of a
// key held when it opened, closes it.
#pragma once

#include "CKLF_Window.h"

class CPluginMain;

class CWnd_About : public CKLF_Window {
 public:
  CWnd_About() : m_plugin(nullptr) {}
  ~CWnd_About() override {}

  void SetPlugin(CPluginMain* plugin) { m_plugin = plugin; }
  CPluginMain* GetPlugin() const { return m_plugin; }

  u8 OnKeyDown(u8, u8) override { return i_End(); }
  u8 OnKeyUp(u8, u8) override { return i_End(); }
  u8 OnKeyChar(u8, u8) override { return i_End(); }
  u8 OnLMouseDown(i16, i16, u8) override { return i_End(); }
  u8 OnRMouseDown(i16, i16, u8) override { return i_End(); }
  void localClose() { EndModal(0); }

 private:
  u8 i_End() {
    EndModal(0);
    return 1;
  }

  CPluginMain* m_plugin;
};
