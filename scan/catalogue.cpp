#include "scan/catalogue.h"

#include <QByteArray>
#include <QtGlobal>

namespace tevrin {
namespace {
constexpr Satellite kCatalogue[kSatelliteCount] = {
    {u"Выберите спутник", 0},      {u"Amos 4.0°W", 356},        {u"Thor 6 0.8°W", 359},
    {u"Astra 4A 4.8°E", 5},        {u"Eurobird 9A 9.0E", 9},    {u"Hot Bird 13.0°E", 13},
    {u"Astra 1G 31.5°E", 31},      {u"Eutelsat W4W7 36°E", 36}, {u"Hellas Sat 2 39°E", 39},
    {u"Express AM1 40.0E", 40},    {u"Yamal 202 49.0°E", 49},   {u"Express AM22 53°E", 53},
    {u"Bonum1 56°E", 56},          {u"Intelsat 904 60°E", 60},  {u"ABS 1 75.0°E", 75},
    {u"Exspress DM1 80°E", 80},    {u"Intelsat 15 85.2°E", 85}, {u"Yamal 201 90°E", 90},
    {u"Exspress AM33 96.5°E", 96},
};

QString FromEnvironment(const char* variable, const char* fallback) {
  QString url =
      qEnvironmentVariableIsSet(variable) ? qEnvironmentVariable(variable) : QString::fromUtf8(fallback);
  while (url.endsWith(QLatin1Char('/'))) url.chop(1);
  return url;
}
}  // namespace

QString SatelliteName(int index) {
  if (index < 0 || index >= kSatelliteCount) return {};
  return QString::fromUtf16(kCatalogue[index].name);
}

int ChartPosition(int index) {
  if (index < 0 || index >= kSatelliteCount) return 0;
  return kCatalogue[index].position;
}

int SatelliteIndexByName(const QString& name) {
  for (int i = 0; i < kSatelliteCount; ++i)
    if (SatelliteName(i) == name) return i;
  return -1;
}

QString ChartSiteUrl() { return FromEnvironment("TEVRIN_CHART_URL", TEVRIN_DEFAULT_CHART_URL); }
QString MakerSiteUrl() { return FromEnvironment("TEVRIN_SITE_URL", TEVRIN_DEFAULT_SITE_URL); }

QString ChartAddress(int index) {
  const int position = ChartPosition(index);
  if (position == 0) return {};
  return ChartSiteUrl() + QStringLiteral("/charts?position=") + QString::number(position);
}

}  // namespace tevrin
