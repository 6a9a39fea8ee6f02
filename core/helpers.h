// Small shared helpers of the core: program folder, folder creation, MD5 as
// text, XML element text, process lookup, string splitting, memory guard and
// the registry values read at start-up (vendor number, language, autostart).
#pragma once

#include "platform/text.h" // AnsiToWide / WideToAnsi
#include "platform/types.h"

#include <string>
#include <vector>

class CWnd;
class TiXmlElement;

// Values read or written by the helpers below (defaults as at process start).
extern std::string g_strTitle;     // window title, "Corvane"
extern int g_nLanguage;            // language index 0..6
extern char g_szVendorNumber[260]; // "" unless the vendor value is set
extern int g_bAutoRun;
extern int g_bAutoLogin;

// The program folder with its trailing '/'.
std::string GetAppDir();

bool IsDirExist(const char* path);

// Creates the folder and its missing parents; true when it exists afterwards.
// System paths ("D:\x\y\") are resolved first.
bool CreateDirTree(const char* path);

// MD5 of the text's bytes as 32 upper-case hex digits; out holds at least 33 bytes.
void Md5HexUpper(const char* text, char* out);

// Value of the element's first child node ("" when it has none or elem is null);
// name is not used.
std::string GetXmlText(const TiXmlElement* elem, const char* name);

// Sets a control's text from a wide string: 1, or 0 when the dialog is null or
// has no such control.
int SetCtrlTextW(CWnd* dialog, UINT id, const wchar_t* text);

// Processes of this user whose program file name (as in /proc/<pid>/exe,
// or the command name when that cannot be read) equals name exactly.
bool IsProcessRunning(const char* name);

// Whether a process of this user named name runs from the program folder
// (what TerminProcessByName would end).
bool IsOwnProcessRunning(const char* name);

// Terminates the first process of this user named name whose program lies
// in the program folder; non-zero when one was terminated.
int TerminProcessByName(const char* name);

// Splits text at delimiter, appending the pieces to out; returns the number appended.
int SplitString(const std::string& text, const std::string& delimiter, int skipEmpty,
                std::vector<std::string>& out);

// The window whose process the memory guard measures (the main window sets it).
void SetMemoryGuardWindow(HWND hWnd);
// True when that window exists and its process uses 1,200 MB or more.
bool IsMemoryHigh();

// Registry values under HKEY_LOCAL_MACHINE.
void ReadVendorNumber();
int LanguageIndexFromLcid(const char* text);
void LoadLanguage();
void ReadAutoRun();
void EnableAutoRun();
void DisableAutoRun();

// Registry locations of those values.
inline constexpr const char kVendorKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Varno\\Windows";
inline constexpr const char kProductKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";
inline constexpr const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char kRunValue[] = "Corvane";
