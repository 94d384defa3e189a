#include "DatabaseLocation.h"
#include "app/Program.h"

#include <QString>

int main(int argc, char *argv[])
{
    return runAutoRunner(argc, argv, QString::fromUtf8(databasePath));
}
