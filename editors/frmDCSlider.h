// The duty-cycle slider dialog (see frmPWMSlider.h for the shared behaviour).
#pragma once

#include "editors/frmPWMSlider.h"

class frmDCSlider : public PwmSliderDialog {
  Q_OBJECT
 public:
  frmDCSlider();
  QSlider* DCSlider;
  QLabel* lblDCRegVal;
  QLabel* lblDCResult;

 protected:
  double seconds(int v, int prescale, double fosc) const override;
  void store(int module, int v) override;
};
