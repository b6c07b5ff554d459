// A second client process of the test server: activates the class, writes the server's process
// id to the file its argument names, and holds its reference until it is killed.
#include "RemoteTest.h"

#include <objbase.h>

#include <fstream>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2 || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    IRemoteCalls* calls = nullptr;
    if (FAILED(CoCreateInstance(
            CLSID_RemoteCalls, nullptr, CLSCTX_LOCAL_SERVER, IID_IRemoteCalls, reinterpret_cast<void**>(&calls))))
        return 3;
    LONG pid = 0;
    if (FAILED(calls->ProcessId(&pid)))
        return 4;
    {
        std::ofstream(std::string(argv[1]) + ".part") << pid << '\n';
    }
    std::rename((std::string(argv[1]) + ".part").c_str(), argv[1]);
    for (;;)
        pause();
}
