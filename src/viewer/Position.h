#pragma once

#include "FileOffset.h"

#include <optional>
#include <string>

// A place in a file of FileSize bytes as a reader writes it: a share ("37.5%", "37.5 %", full-width
// digits and ％ too, at most one decimal point) or a byte offset ("123456"); spaces around are
// allowed. Clamped into [0, FileSize], however many digits. Nullopt for anything else, an empty text
// included.
std::optional<TFileOffset> ParsePosition(const std::string& Text, TFileOffset FileSize);
