// Core start-up and shut-down: AppInit / AppExit, the control-library
// registration, the old record-folder rename and the screen-saver switch.
#pragma once

#include "platform/types.h"

#include <string>

extern int g_nScreenWidth;   // pixels, 1024 until AppInit reads the screen
extern int g_nScreenHeight;  // 768 until AppInit reads the screen
extern int g_nScreenHeight2; // the height's second copy
extern int g_bAutoLoginArg;  // 1 when started with the single argument "autologin"

// Loads the configuration, opens the log, registers the control libraries,
// reads the screen size and loads the device and recording-plan files.
void AppInit();
// Saves the configuration files, releases the plans, writes the end banner
// and closes the log. Worker threads must have been stopped before.
void AppExit();

// Loads each control library from the program folder, calls its
// DllRegisterServer and logs every failure; start-up always goes on.
void RegisterActiveXControls();
// The file name of a control library ("DadAROZar.so").
std::string ControlLibraryFileName(const char* baseName);

// Removes the temporary copies a save killed before its rename left beside
// the configuration files and the registry hive. Only while this process holds the single-instance
// lock, so that a running instance's save is never touched.
void RemoveStaleConfigCopies();

// "%sQelmRecord" -> "%sRecord" for every storage path of every plan, when the
// first exists and the second does not.
void RenameOldRecordFolders();

// There is no screen saver to switch here: the calls keep the state it would
// have, so every exit can put back what start-up found.
void SetScreenSaverActive(bool active);
bool IsScreenSaverActive();
// True for "autologin" as the one and only argument (case-sensitive).
bool IsAutoLoginArgs(int argc, const char* const* argv);
