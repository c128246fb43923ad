#include "app/settings.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/profile.h"

namespace tevrin {
namespace {

const QString kSize = QStringLiteral("Size");
const QString kLngCheck = QStringLiteral("LngCheck");

int ReadInt(const ProfileFile& file, const QString& section, const QString& key, int fallback) {
  return ProfileInt(file.value(section, key, QString()), fallback);
}

bool ReadBool(const ProfileFile& file, const QString& key, bool fallback) {
  return ReadInt(file, kLngCheck, key, fallback ? 1 : 0) != 0;
}

}  // namespace

QString SettingsPath() { return BesideExe(QStringLiteral("MyIni.ini")); }

WindowSettings LoadSettings(const QString& path, const WindowSettings& current) {
  const ProfileFile file(path);  // read once for the nine values
  WindowSettings s;
  s.top = ReadInt(file, kSize, QStringLiteral("Top"), current.top);
  s.left = ReadInt(file, kSize, QStringLiteral("Left"), current.left);
  s.width = ReadInt(file, kSize, QStringLiteral("Wh"), current.width);
  s.height = ReadInt(file, kSize, QStringLiteral("Hh"), current.height);
  s.rus = ReadBool(file, QStringLiteral("Rus"), true);
  s.ukr = ReadBool(file, QStringLiteral("Ukr"), false);
  s.bel = ReadBool(file, QStringLiteral("Bel"), false);
  s.oth = ReadBool(file, QStringLiteral("Oth"), false);
  s.othText = file.value(kLngCheck, QStringLiteral("OthText"), QString());
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
