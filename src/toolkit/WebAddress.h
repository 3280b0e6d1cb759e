#pragma once

#include <string>

// Opens Url (UTF-8) with the desktop's handler for it, usually the web browser. Whether that
// succeeded is not reported: there is nothing the program could do about it.
void OpenWebAddress(const std::string& Url);
