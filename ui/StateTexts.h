#pragma once

#include "run/RunEngine.h"

#include <QString>

// The texts the main window gives for the run's states through RunState() and ProcessState(),
// spelled as they always have been.

inline QString runStateText(RunEngine::RunState state)
{
    return state == RunEngine::RunState::Running ? QStringLiteral("运行") : QStringLiteral("停止");
}

inline QString processStateText(RunEngine::ProcessState state)
{
    return state == RunEngine::ProcessState::Open ? QStringLiteral("打开") : QStringLiteral("关闭");
}
