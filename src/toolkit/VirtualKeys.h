#pragma once

#include <QString>
#include <Qt>

#include <cstdint>

// Windows virtual-key codes, as OnKeyDown handlers see keys, and back.

// What Windows reports for a key that has no virtual-key code of its own.
constexpr std::uint16_t VkNoCode = 255;

// The virtual-key code of a Qt key on a US keyboard layout; VkNoCode for a key that has none there
// (dead keys, accented letters, media keys). Never 0: every key raises OnKeyDown.
std::uint16_t VirtualKeyOf(int QtKey, Qt::KeyboardModifiers Modifiers);

// The Qt key of a virtual-key code, for a key that a handler replaced by another; 0 when unknown.
// Modifiers gain or lose the keypad flag as the code asks, and Text is the character the key types.
int QtKeyOf(std::uint16_t Vk, Qt::KeyboardModifiers& Modifiers, QString& Text);
