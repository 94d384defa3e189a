#pragma once

// The window's own settings, kept for the person in the usual place for the program's settings
// (~/.config/<organization>/<application>.conf), never in the schedule's file, which others may
// share.
namespace WindowSettings {

// Closing the window during a run hides it in the tray, and the run goes on. Off unless set.
bool keepInTray();
void setKeepInTray(bool keep);

// The desktop is told of programs that fail and of a run that has ended. On unless set.
bool notifications();
void setNotifications(bool notify);

} // namespace WindowSettings
