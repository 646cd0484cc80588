// Holds a window presence on behalf of a test: announces the caption given on
// the command line, prints "ready", and gives the window up when its input
// ends. Killed, it leaves its record behind as a crashed program does.
#include "WindowPresence.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const auto presence = WindowPresence::announce(QString::fromLocal8Bit(argv[1]));
    if (!presence->isActive())
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
