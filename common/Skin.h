#pragma once

#include <QString>

// The skin is the style sheet "Tamsel.Skin" in the program folder. A missing
// or unreadable skin leaves the program unskinned; it is never an error.
namespace Skin {

constexpr const char *kFileName = "Tamsel.Skin";

// Applies the skin to the whole application; returns whether one was found.
bool attach(const QString &programFolder);

} // namespace Skin
