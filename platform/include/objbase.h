// The COM base header as Windows code includes it.
#pragma once

#include "combaseapi.h"
#include "guiddef.h"
#include "unknwn.h"
#include "wtypes.h"
