// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_PROGRAM 1        // the program icon, 32 x 32, 16 colours
#define IDB_TOOLGLYPHS 100   // tool bar glyphs: three 16 x 16 images side by side, 16 colours,
                             // magenta (255,0,255) marks the transparent pixels
