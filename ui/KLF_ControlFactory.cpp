#include "KLF_ControlFactory.h"

#include <new>

#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlCheckBox.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlRadioButton.h"
#include "CKLF_CtrlRuler.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_CtrlStaticText.h"

CKLF_Control* KLF_NewControl(u8 type) {
  // The preview (11) is only ever added from outside.
  switch (type) {
    case klCtrlSlider: return new (std::nothrow) CKLF_CtrlSlider;
    case klCtrlStaticImage: return new (std::nothrow) CKLF_CtrlStaticImage;
    case klCtrlStaticText: return new (std::nothrow) CKLF_CtrlStaticText;
    case klCtrlProgress: return new (std::nothrow) CKLF_CtrlProgress;
    case klCtrlButton: return new (std::nothrow) CKLF_CtrlButton;
    case klCtrlRadioButton: return new (std::nothrow) CKLF_CtrlRadioButton;
    case klCtrlCheckBox: return new (std::nothrow) CKLF_CtrlCheckBox;
    case klCtrlScrollBar: return new (std::nothrow) CKLF_CtrlScrollBar;
    case klCtrlEditLine: return new (std::nothrow) CKLF_CtrlEditLine;
    case klCtrlList: return new (std::nothrow) CKLF_CtrlList;
    case klCtrlRuler: return new (std::nothrow) CKLF_CtrlRuler;
    default: return nullptr;
  }
}
