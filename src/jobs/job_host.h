#pragma once
// How a job running on a worker thread reaches its window. The window runs
// every request on its user-interface thread and waits for it, so a job never
// touches a widget; tests hand the job a scripted host instead.

#include "compile/help_project.h"

#include <string>

namespace tbx {

class IJobHost {
public:
    virtual ~IJobHost() = default;

    // The current text of the edit control with this id.
    virtual std::string ReadField(int controlId) = 0;
    // Replaces the log pane's whole text.
    virtual void ShowMessage(const std::string& text) = 0;
    // Progress of the running program: replaces the pane's text like
    // ShowMessage, but the job does not wait for it, and a newer progress
    // text may take the place of one not shown yet.
    virtual void ShowProgress(const std::string& text) = 0;
    // A Yes/No question box captioned "Tomebox!"; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void StartBusy() = 0;
    virtual void StopBusy() = 0;
    // Ends the window (and with the build window, the program).
    virtual void EndDialog(int result) = 0;
    // Size of the screen the window is on, in pixels.
    virtual ScreenSize Screen() = 0;
};

// The jobs of one window, as the window sees them when it closes.
class IJobSet {
public:
    virtual ~IJobSet() = default;
    // Jobs waiting for their lock give up, running programs are asked to
    // stop, and no job shows anything or acts afterwards.
    virtual void Shutdown() = 0;
    // The user's stop: the jobs started so far end as on Shutdown, the
    // running one saying that it was stopped; later presses start new jobs.
    virtual void Stop() = 0;
    // True when no job thread is running.
    virtual bool Idle() const = 0;
    // Waits for every job thread to end.
    virtual void Join() = 0;
};

} // namespace tbx
