#pragma once
// Control, command and system-command identifiers of the program's windows.

namespace ids {

// Main window (dialog 102).
inline constexpr int IDC_GO = 3000;
inline constexpr int IDCANCEL = 2; // "Exit", Escape and the close box
inline constexpr int IDOK = 1;
inline constexpr int IDC_PROGRESS = 3002;
inline constexpr int IDC_ADD_PHOTOS = 3003;
inline constexpr int IDC_PHOTO_FOLDERS = 3005;
inline constexpr int IDC_PHOTO_LIST = 3007;
inline constexpr int IDC_REMOVE = 3008;
inline constexpr int IDC_REMOVE_ALL = 3009;
inline constexpr int IDC_MUSIC_FILE = 3010;
inline constexpr int IDC_OUTPUT = 3011;
inline constexpr int IDC_CHOOSE_MUSIC = 3016;
inline constexpr int IDC_CHOOSE_OUTPUT = 3017;
inline constexpr int IDC_UP = 1002;
inline constexpr int IDC_DOWN = 1003;
inline constexpr int IDC_EFFECT = 1007;
inline constexpr int IDC_SETTING = 1008;
inline constexpr int IDC_HELP_BUTTON = 1052;
inline constexpr int IDC_ABOUT_BUTTON = 1053;
inline constexpr int IDC_PHOTO_COUNT = 1054;
inline constexpr int IDC_STATUS = 1055;

// Menu 141.
inline constexpr int ID_FILE_EXIT = 40006;
inline constexpr int ID_APP_ABOUT = 32771;
inline constexpr int ID_CONTEXT_HELP = 32772;
// The framework's help command (F1).
inline constexpr int ID_HELP = 57670;

// System menu.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;

// Settings dialog (998).
inline constexpr int IDC_SIZE_COMBO = 1010;
inline constexpr int IDC_SECONDS_COMBO = 1011;
inline constexpr int IDC_PLAY_WHOLE_MUSIC = 1014;
inline constexpr int IDC_HIGH_QUALITY = 1015;

// About box (100).
inline constexpr int IDC_SUPPORT = 1004;
inline constexpr int IDC_NOTICES = 1005; // where the licence notices are

// The conversion stage's timer.
inline constexpr int kConversionTimerId = 100;

} // namespace ids
