#pragma once

#include "ui/Images.h"

#include <QString>

class ScheduleRunner;

// What the tray icon shows of the run: its picture and its tooltip follow the state.
enum class TrayState { Stopped, Running, Paused, Waiting };

TrayState trayStateOf(const ScheduleRunner &runner);
Picture trayPicture(TrayState state);
// The run in words: the state, and the entry with its program, run k of n and the seconds left
// while it runs or is paused; why a looping run waits.
QString trayToolTip(const ScheduleRunner &runner);
