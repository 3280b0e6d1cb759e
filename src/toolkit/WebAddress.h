#pragma once

#include <string>

// Opens Url (UTF-8) with the desktop's handler for it, usually the web browser. False when the desktop
// has none to hand it to (no browser installed, no desktop session).
bool OpenWebAddress(const std::string& Url);
