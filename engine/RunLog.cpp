#include "engine/RunLog.h"

Q_LOGGING_CATEGORY(runLog, "vantrel.run", QtInfoMsg)
