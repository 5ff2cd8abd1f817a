#pragma once
#include "NetworkServices.h"

#include <QString>

// Loads the network module (NetworkServices on Qt's network library) with its first use, so
// that Qt's network library stays off the start-up path: the main window asks for it only
// after its first paint.
namespace NetworkModule {

// The module's file name; installed in lib/<triplet>/vantelo, in the build tree beside the
// programs.
constexpr const char* kFileName = "vantelo-network.so";

// The services, loaded once; null when the module cannot be loaded (LoadError says why).
NetworkServices* Services();
QString LoadError();

// Loads the module from `folder` instead of its installed place or the program's own folder;
// for tests, before the first Services().
void SetFolder(const QString& folder);

} // namespace NetworkModule
