// The program's entry routine. The command line is not read.
#include <windows.h>

#include "app/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunGlyphdock(); }
