#include "processthreadsapi.h"

#include "ThreadObject.h"
#include "errhandlingapi.h"

#include <unistd.h>

namespace platform {

namespace {

// The calling process, as GetCurrentProcess's pseudo-handle names it: never signalled while anyone
// can wait on it.
class SelfProcessObject final : public KernelObject, public Waitable {
public:
    Waitable* AsWaitable() override
    {
        return this;
    }
    bool IsSignaled() const override
    {
        return false;
    }
};

}

std::shared_ptr<KernelObject> CurrentProcessObject()
{
    static const std::shared_ptr<KernelObject>* self
        = new std::shared_ptr<KernelObject>(std::make_shared<SelfProcessObject>());
    return *self;
}

}

using namespace platform;

extern "C" HANDLE WINAPI GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

extern "C" DWORD WINAPI GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}
