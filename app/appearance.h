// How the window looks like a current Windows program: the common controls of the visual styles,
// the system's message font on every control, controls sized to their texts, the program's icon.
#pragma once

#include <windows.h>

#include <vector>

#include "app/controls.h"

// The program's icon in the resources (app/voxtrel.ico): id 1, so Explorer shows it first.
constexpr int PROGRAM_ICON_ID = 1;

// The font every control of the main window uses; null until the window is created.
extern HFONT messageFont;

// Registers the common controls the window uses (the progress bar); true when they can be had.
bool initCommonControls();

// Creates the system's message font (the one in the non-client metrics), scaled to percent of
// its size; null when the system gives none.
HFONT createMessageFont(int percent = 100);

// What a font needs of the controls: the width of each control's text and the height of a line.
struct TextMeasures {
    std::vector<int> textWidths;  // per control, in table order; 0 for one without text
    int lineHeight = 0;
};

// Measures the texts of the controls in font.
TextMeasures measureTexts(const ControlSpec* controls, int count, HFONT font);

// Returns the rectangles of the controls (left, top, right, bottom) for texts of those measures:
// a button grows to hold its text and pushes the buttons right of it along; a line of text grows
// to the font's height, up to where the next row begins. Everything else keeps its place.
std::vector<RECT> fitControls(const ControlSpec* controls, int count, const TextMeasures& measures);

// Gives every control of the table the message font.
void applyMessageFont(const ControlSpec* controls, int count);

// Deletes the message font once no control uses it any more.
void deleteMessageFont();

// Loads the program's icon at the system's size for big (SM_CXICON) or small (SM_CXSMICON) icons.
HICON loadProgramIcon(HINSTANCE instance, bool small);
