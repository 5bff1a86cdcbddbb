// The about box: product name and version.
#pragma once

#include "runtime/forms.h"

class TAboutBox : public TForm {
public:
  enum : int {
    idPanel1 = 101, idImage1, idProductName, idVersion, idCopyright, idComments, idOKButton
  };
  TAboutBox();
};

extern TAboutBox* AboutBox;
