// The calling thread's apartment, as ole32's other parts see it.
// A thread is in the single-threaded apartment it entered, in the process's multithreaded
// apartment if it entered that or if it entered none while that apartment exists, or in none.
#pragma once

#include "windef.h"

namespace ole32 {

// Identifies an apartment: the thread id of a single-threaded one, kMultithreadedApartment for
// the process's multithreaded one.
using ApartmentId = DWORD;
constexpr ApartmentId kMultithreadedApartment = 0;

// False when the calling thread is in no apartment (the caller answers CO_E_NOTINITIALIZED).
bool CurrentApartment(ApartmentId& apartment);

}
