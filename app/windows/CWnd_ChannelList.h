// The channel selection dialog from the resource "ChannelList": a thin
// window over CChannelListModel. The list shows what the document offers
// as a map (the current selection, its channels, the layer transparency);
// the chosen one is read from the host and shown over the document's
// thumbnail, black where it selects (where it is dark, or light with
// "Invert"); the
// radio buttons choose how it combines with the selection (New, and with
// something selected Add, Subtract, Intersect). OK (or Return) stores the
// window's position and ends the dialog with 1, Cancel, the close box and
// Escape with 0. CMainDialogs opens it.
//
// Cost: choosing an item reads the channel over the filter area (one byte
// a pixel) and scales it to the preview. Limits: the model's.
#pragma once

#include "CChannelListModel.h"
#include "CKLF_Layer.h"
#include "CWnd_Dialog.h"

class CKLF_CtrlList;

class CWnd_ChannelList : public CWnd_Dialog {
 public:
  // The controls in the order they are made (their ids). The scroll bar
  // and its upper arrow come in the platform's arrow style.
  enum CONTROL : u32 {
    kCloseX, kCancel, kOk, kHelp, kList, kScrollBottom, kScrollTop, kScrollBar,
    kSelNew, kSelAdd, kSelSub, kSelInter, kStatus, kInvert,
    kControlCount
  };
  static const char* const kName;  // "ChannelList": the resource and the position
  static const char* const kTips;  // "ChannelsList": the tips' window

  CWnd_ChannelList(CMainWindowPort& port, CChannelListModel::Source& source);
  ~CWnd_ChannelList() override;

  // Set before creation: whether something is selected (the combining
  // modes need it), whether knives rather than pieces are selected (the
  // tips speak of them), and the document shown under the map (null: a
  // plain grey).
  u8 combineAllowed;
  u8 knives;
  const CKLF_Image* thumbnail;

  // The preview's layers, the controls, the list filled and its first item
  // chosen; 0 when a resource is missing, the map cannot be had or the
  // list stays empty.
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  u8 OnReturn() override;

  u8 FillList();
  // The chosen item's map read and shown; the previous one stays when the
  // host refuses the read.
  void DoRedrawPreview();
  void OnOK();

  // Mode and invert flag as the controls set them, and the map.
  CChannelListModel& GetModel() { return m_model; }
  kltRECT_s GetPreviewRect() const { return m_previewRect; }
  CKLF_Layer& GetMapLayer() { return m_mapLayer; }

 protected:
  u8 i_TipState(const CKLF_Control*) const override { return knives ? 1 : 2; }

 private:
  u8 i_CreatePreview();
  void i_DrawThumbnail();
  u8 i_SetUpList();
  void i_ReadModes();

  CONTROLENTRY m_entries[kControlCount];
  CChannelListModel m_model;
  kltRECT_s m_previewRect;
  CKLF_Layer m_backLayer;
  CKLF_Layer m_mapLayer;
  CKLF_CtrlList* m_list;
  u8 m_inPreview;
};
