#include "app/Startup.h"
#include "app/Window.h"

// The one name the module exports; everything else in it stays its own.
extern "C" Q_DECL_EXPORT int vantrelRunWindow(int &argc, char **argv, const CommandLine &line,
                                              const QString &program, const QString &databasePath)
{
    return runWindow(argc, argv, line, program, databasePath);
}

// The entry must keep the type the program calls it by.
static_assert(std::is_same_v<decltype(vantrelRunWindow), RunWindow>);
