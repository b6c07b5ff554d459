// A local server that never registers its class: it writes its process id to WINROOT/silent.pid,
// so that the test can end it, and waits.
#include "WinRoot.h"

#include <fstream>
#include <unistd.h>

int main()
{
    {
        std::ofstream(platform::RootPath("silent.pid")) << getpid() << '\n';
    }
    sleep(120);
    return 0;
}
