#include "app/settings.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/profile.h"

namespace tevrin {
namespace {

const QString kSize = QStringLiteral("Size");
const QString kLngCheck = QStringLiteral("LngCheck");

int ReadInt(const QString& section, const QString& key, int fallback, const QString& path) {
  return ProfileInt(GetPrivateProfileString(section, key, QString::number(fallback), path), fallback);
}

bool ReadBool(const QString& key, bool fallback, const QString& path) {
  return ReadInt(kLngCheck, key, fallback ? 1 : 0, path) != 0;
}

}  // namespace

QString SettingsPath() { return BesideExe(QStringLiteral("MyIni.ini")); }

WindowSettings LoadSettings(const QString& path, const WindowSettings& current) {
  WindowSettings s;
  s.top = ReadInt(kSize, QStringLiteral("Top"), current.top, path);
  s.left = ReadInt(kSize, QStringLiteral("Left"), current.left, path);
  s.width = ReadInt(kSize, QStringLiteral("Wh"), current.width, path);
  s.height = ReadInt(kSize, QStringLiteral("Hh"), current.height, path);
  s.rus = ReadBool(QStringLiteral("Rus"), true, path);
  s.ukr = ReadBool(QStringLiteral("Ukr"), false, path);
  s.bel = ReadBool(QStringLiteral("Bel"), false, path);
  s.oth = ReadBool(QStringLiteral("Oth"), false, path);
  s.othText = GetPrivateProfileString(kLngCheck, QStringLiteral("OthText"), QString(), path);
  return s;
}

void SaveSettings(const QString& path, const WindowSettings& settings) {
  SaveSettings(path, settings, &WritePrivateProfileString);
}

void SaveSettings(const QString& path, const WindowSettings& s, const ProfileWriter& write) {
  auto put = [&](const QString& section, const char* key, const QString& value) {
    if (!write(section, QLatin1String(key), value, path))
      throw TevrinError(QStringLiteral("Unable to write to ") + path);
  };
  auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
  put(kSize, "Top", QString::number(s.top));
  put(kSize, "Left", QString::number(s.left));
  put(kSize, "Wh", QString::number(s.width));
  put(kSize, "Hh", QString::number(s.height));
  put(kLngCheck, "Rus", flag(s.rus));
  put(kLngCheck, "Ukr", flag(s.ukr));
  put(kLngCheck, "Bel", flag(s.bel));
  put(kLngCheck, "Oth", flag(s.oth));
  put(kLngCheck, "OthText", s.othText);
}

}  // namespace tevrin
