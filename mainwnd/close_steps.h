// The one place where the close sequence stops and joins the subsystems that
// run threads or sessions of their own (alarm linkage and the alarm-log
// writer, relay replays, sessions and downloads, TV wall, PTZ, ...). Each
// subsystem registers its step when it starts; pages above the main window
// register themselves, app/ registers for the layers below it. The main
// window runs each stage at its place in the sequence. UI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class CloseStage : int {
    LinkageOff = 1,     // the close button, before the confirmation: linkage off, its popup closed
    RelayReplays = 3,   // the close handler: the record search page's relay replays
    RelaySessions = 4,  // the relay session registry, its downloads stopped and joined
    AlarmLogWriter = 5, // the alarm list's log writer stopped and joined
    BeforePages = 16,   // what must end before the pages are destroyed (TV wall, PTZ, ...)
};

// Returns an id for UnregisterCloseStep. Steps of a stage run in the order
// they were registered.
int RegisterCloseStep(CloseStage stage, std::string name, std::function<void()> step);
void UnregisterCloseStep(int id);
// Runs the stage's steps; a step may unregister itself or others.
void RunCloseSteps(CloseStage stage);
// Names of the registered steps of a stage, in run order (tests).
std::vector<std::string> CloseStepNames(CloseStage stage);
