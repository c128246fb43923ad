#pragma once
#include <QString>

#include <functional>

namespace tevrin {

// The window bounds and the language choice kept in MyIni.ini between runs.
struct WindowSettings {
  int top = 0, left = 0, width = 0, height = 0;  // outer bounds of the main window (frame included)
  bool rus = true, ukr = false, bel = false, oth = false;
  QString othText;
};

// MyIni.ini beside the executable.
QString SettingsPath();

// Reads "Size": "Top", "Left", "Wh", "Hh" and "LngCheck": "Rus", "Ukr", "Bel",
// "Oth", "OthText", in this order. A missing or unreadable size keeps the
// value of `current` (the window's bounds as designed); the language boxes
// default to Russian only and an empty code. A Boolean is any integer, zero
// being false. No minimum is applied here: the window's own minimum size
// (587 x 347) clamps what is restored.
WindowSettings LoadSettings(const QString& path, const WindowSettings& current);

// One write of a key: section, key, value, path -> success.
using ProfileWriter = std::function<bool(const QString&, const QString&, const QString&, const QString&)>;

// Writes the nine keys in the order above, one write each: integers in
// decimal, Booleans as "1" or "0", the code as it is (an empty one still
// writes "OthText="). A refused write stops the save at that key with
// TevrinError "Unable to write to <path>"; keys written before stay changed.
void SaveSettings(const QString& path, const WindowSettings& settings);
// The same through another writer (WritePrivateProfileString above).
void SaveSettings(const QString& path, const WindowSettings& settings, const ProfileWriter& write);

}  // namespace tevrin
