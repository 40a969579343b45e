#pragma once

#include <array>

// The window's controls as laid out in twips (15 to a pixel): designer name, caption, place in
// the window (or, for the frame's controls, in the frame), size and tab index.
struct ControlSpec
{
    enum Kind
    {
        PushButton,
        ListView,
        Frame,
        OptionButton,
        TextBox,
        Label,
    };
    const char* name;
    Kind kind;
    const char* caption;
    bool inFrame;
    int left, top, width, height;
    int tabIndex; // -1: takes no focus
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 8040;
inline constexpr int kClientHeightTwips = 10260;
inline constexpr int kColumnWidthTwips = 7000;

// Twips to whole pixels, rounding to the nearest.
inline constexpr int pixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline constexpr std::array<ControlSpec, 21> kControls{{
    {"PushButton2", ControlSpec::PushButton, "Help", false, 120, 120, 7800, 405, 11},
    {"ListView1", ControlSpec::ListView, "", false, 120, 630, 7800, 2535, 0},
    {"PushButton1", ControlSpec::PushButton, "Add HTML Files", false, 120, 3250, 3840, 405, 4},
    {"PushButton5", ControlSpec::PushButton, "Add All HTML Files In Folder", false, 4080, 3250, 3840, 405, 5},
    {"PushButton14", ControlSpec::PushButton, "Clear List", false, 120, 3760, 3840, 405, 18},
    {"PushButton13", ControlSpec::PushButton, "Load Sample/Example Files", false, 4080, 3760, 3840, 405, 17},
    {"Frame1", ControlSpec::Frame, "Extract Options", false, 120, 4230, 7800, 1740, 12},
    {"Option1", ControlSpec::OptionButton, "Extract all data between all tags", true, 240, 300, 3540, 225, 13},
    {"Option2", ControlSpec::OptionButton, "Extract data and tag between this tag:", true, 240, 650, 3690, 225, 14},
    {"Option3", ControlSpec::OptionButton, "Extract entire line containing this tag or data:", true, 240, 1000, 4320,
     225, 15},
    {"Option4", ControlSpec::OptionButton, "Extract all tags in file", true, 240, 1350, 3480, 225, 16},
    {"Text1", ControlSpec::TextBox, "Text1", true, 3840, 600, 2175, 330, 19},
    {"Text2", ControlSpec::TextBox, "Text2", true, 4440, 990, 2175, 330, 20},
    {"PushButton7", ControlSpec::PushButton, "Start Extracting", false, 120, 6090, 7800, 405, 6},
    {"ListView2", ControlSpec::ListView, "", false, 120, 6600, 7800, 2535, 3},
    {"PushButton6", ControlSpec::PushButton, "Save Results As Text File", false, 120, 9220, 3840, 405, 7},
    {"PushButton12", ControlSpec::PushButton, "Save As Comma Delimited", false, 4080, 9220, 3840, 405, 8},
    {"PushButton11", ControlSpec::PushButton, "Copy Results To Clipboard", false, 120, 9730, 3840, 405, 9},
    {"PushButton9", ControlSpec::PushButton, "Clear List", false, 4080, 9730, 3840, 405, 10},
    // Below the client area, never seen and used by no code; kept so the layout is complete.
    {"Text1x", ControlSpec::TextBox, "", false, 120, 11385, 2175, 330, -1},
    {"Label1", ControlSpec::Label, "Enter tag without < or / or > :", false, 2400, 11445, 3000, 225, -1},
}};
