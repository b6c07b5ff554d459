// The process's table of registered class objects (CoRegisterClassObject), as activation uses it.
// Safe from any thread; the table holds one reference on each registered object.
#pragma once

#include "Apartment.h"
#include "objbase.h"

namespace ole32 {

// A registered class object for the class in one of the contexts (with one added reference),
// or null; apartment, when given, receives the apartment that registered it. A single-use
// registration is handed out once only.
IUnknown* FindRegisteredClassObject(REFCLSID clsid, DWORD contexts, ApartmentId* apartment = nullptr);

// Revokes every registration the apartment made, as its last CoUninitialize does.
void RevokeApartmentClassObjects(ApartmentId apartment);

}
