// The master header of the platform, as Windows code includes it.
#pragma once

#include "mmsystem.h"
#include "winbase.h"
#include "wincrt.h"
#include "windef.h"
#include "winerror.h"
#include "winnls.h"
#include "winreg.h"
#include "winuser.h"
