// The in-process stand-in for the COM runtime: per-thread initialisation, object creation by
// ProgID, and the live-object bookkeeping that tests read.
#pragma once

#include "OleTypes.h"

#include <cstddef>

// Initialises automation for the calling thread: S_OK the first time, S_FALSE when the thread is
// already initialised. Every call is matched by one CoUninitialize.
HRESULT CoInitialize(void* reserved = nullptr);
// Undoes one CoInitialize of the calling thread; a call without one is ignored.
void CoUninitialize();

// Creates the object registered under `progId` ("Outlook.Application") and stores the caller's
// reference in `*object` (null on failure). CO_E_NOTINITIALIZED when the thread has not been
// initialised; CO_E_CLASSSTRING for a name that is not registered; E_POINTER for a null `object`.
HRESULT CoCreateInstanceFromProgID(LPCTSTR progId, IDispatch** object);

namespace automation {

// Objects created by this layer and not yet destroyed, on all threads. A test that ends with
// more objects than it began with has leaked a reference.
std::size_t LiveObjects();
// AddRef or Release calls on objects that were no longer alive since the process started: a
// double release. A test compares the value before and after.
std::size_t InvalidReleases();

// The bookkeeping behind the two counters; called by every object's constructor and destructor.
void RegisterObject(const IDispatch* object);
void UnregisterObject(const IDispatch* object);

} // namespace automation
