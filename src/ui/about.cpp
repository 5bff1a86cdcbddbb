#include "ui/about.h"

#include "version.h"

TAboutBox* AboutBox = nullptr;

namespace {
// The picture and the four labels sit on Panel1: their positions are relative to it.
const TControlDesc AboutControls[] = {
    {TControlKind::DefaultButton, "OKButton", TAboutBox::idOKButton, 111, 144, 75, 25, "OK", 0, IDOK, 0},
    {TControlKind::Panel, "Panel1", TAboutBox::idPanel1, 8, 8, 281, 125, nullptr, 0, 0, 0},
    {TControlKind::Image, "Image1", TAboutBox::idImage1, 16, 12, 32, 32, nullptr, 0, 0, TAboutBox::idPanel1},
    {TControlKind::Label, "ProductName", TAboutBox::idProductName, 60, 13, 178, 17, "Glyphdock", SS_LEFTNOWORDWRAP, 0, TAboutBox::idPanel1},
    {TControlKind::Label, "Version", TAboutBox::idVersion, 61, 30, 164, 16, "Version " GLYPHDOCK_VERSION, SS_LEFTNOWORDWRAP, 0, TAboutBox::idPanel1},
    {TControlKind::Label, "Copyright", TAboutBox::idCopyright, 8, 72, 265, 18, "Copyright (C) 2026 Quillfen", SS_CENTER, 0, TAboutBox::idPanel1},
    {TControlKind::Label, "Comments", TAboutBox::idComments, 8, 96, 265, 20, "Quillfen's Tinkerlot part2", SS_CENTER, 0, TAboutBox::idPanel1},
};

const TFormDesc AboutDesc = {
    "TAboutBox", "Glyphdock について", 284, 247, 298, 180, true,
    WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, true,
    {"ＭＳ Ｐゴシック", 12, SHIFTJIS_CHARSET}, AboutControls, sizeof AboutControls / sizeof AboutControls[0]};
}  // namespace

TAboutBox::TAboutBox() : TForm(AboutDesc) {}
