#pragma once

#include <QIcon>
#include <QList>

// The 32 × 32 pictures of the commands, drawn from their SVG files in ui/images/.
// Options: the grid's mark on an entry that has options. Tray…: the tray icon in each state of
// the run.
enum class Picture {
    Add,
    Change,
    Delete,
    Start,
    Stop,
    Confirm,
    Cancel,
    History,
    Options,
    TrayStopped,
    TrayRunning,
    TrayPaused,
    TrayWaiting,
};

QIcon pictureIcon(Picture picture);

// An image list: the pictures in the order the actions' image indices count them.
QList<QIcon> imageList(std::initializer_list<Picture> pictures);
