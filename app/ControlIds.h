#pragma once

// Control ids of the main window (GetDlgCtrlID of each child, WM_COMMAND
// ids) and timer ids (SetTimer). Stable: tools outside the program find
// the controls by them.
namespace vyk::app {

inline constexpr int IdStatusBar1 = 100;
inline constexpr int IdButton1 = 101;      // "Load Bin File"
inline constexpr int IdButton2 = 102;      // "Flash Go"
inline constexpr int IdButton3 = 103;      // "Read FW"
inline constexpr int IdButton4 = 104;      // "Save Bin File"
inline constexpr int IdEdit1 = 111;        // write start address
inline constexpr int IdEdit2 = 112;        // write end address
inline constexpr int IdEdit3 = 113;        // read start address
inline constexpr int IdEdit4 = 114;        // read end address
inline constexpr int IdRichEdit1 = 120;    // the activity log
inline constexpr int IdGroupBox1 = 131;    // "Read PD FW"
inline constexpr int IdGroupBox2 = 132;    // "Write PD FW"
inline constexpr int IdRadioGroup1 = 133;  // "Switch TYPE C PD"
inline constexpr int IdLabel1 = 141;       // child of GroupBox2
inline constexpr int IdLabel2 = 142;       // child of GroupBox2
inline constexpr int IdLabel3 = 143;       // child of GroupBox1
inline constexpr int IdLabel4 = 144;       // child of GroupBox1
inline constexpr int IdLabel5 = 145;       // the version label
inline constexpr int IdRadioButton1 = 151; // "PORT 1 PD"
inline constexpr int IdRadioButton2 = 152; // "PORT 2 PD"

inline constexpr int IdTimer1 = 1;         // monitor, 1000 ms
inline constexpr int IdTimer2 = 2;         // flash write, 100 ms
inline constexpr int IdTimer3 = 3;         // flash read, 10 ms

// The parent id of a control placed directly on the window.
inline constexpr int IdWindow = 0;

} // namespace vyk::app
