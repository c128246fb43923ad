// Downloaded chart bytes: decoding, HTML parsing and the language filter.
#include "fuzz/fuzzsupport.h"
#include "scan/chartparser.h"
#include "scan/pagetext.h"
#include "table/channeltable.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

using tevrin::ChannelRow;
using tevrin::Language;

// Which languages are ticked comes from the input so that the filter's
// branches are all reached.
class FuzzHost : public tevrin::ChartParserHost {
 public:
  FuzzHost(uint8_t ticks, QString other) : ticks_(ticks), other_(std::move(other)) {}

  bool isTicked(Language language) override {
    switch (language) {
      case Language::Rus: return (ticks_ & 1) != 0;
      case Language::Ukr: return (ticks_ & 2) != 0;
      case Language::Bel: return (ticks_ & 4) != 0;
      case Language::Other: return (ticks_ & 8) != 0;
    }
    return false;
  }
  QString otherLanguageText() override { return other_; }
  void setProgressMaximum(int maximum) override {
    maximum_ = maximum;
    position_ = 0;
  }
  void stepProgress() override { ++position_; }
  void enableSave() override { ++saves_; }

  int maximum_ = -1;
  int position_ = 0;
  int saves_ = 0;

 private:
  uint8_t ticks_;
  QString other_;
};

QString Describe(const ChannelRow& row) { return row.subItems.join(QStringLiteral(" | ")); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tevrin::fuzz::EnsureApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const auto* chars = reinterpret_cast<const char*>(data);
  FuzzHost host(data[0], QString::fromLatin1(chars + 1, 3));
  const QByteArray page(chars + 4, static_cast<qsizetype>(size - 4));

  tevrin::fuzz::RecordingMessages messages;
  tevrin::ChannelTableModel table;
  table.beginBulkUpdate();
  const bool parsed = tevrin::ParseChartPage(tevrin::DecodePageBytes(page), table, host);
  table.endBulkUpdate();

  if (!parsed) {
    TEVRIN_FUZZ_CHECK(table.count() == 0, QString::number(table.count()));
    TEVRIN_FUZZ_CHECK(messages.boxes.size() == 1, QString::number(messages.boxes.size()));
    return 0;
  }
  TEVRIN_FUZZ_CHECK(messages.boxes.isEmpty(), messages.boxes.value(0).text);
  TEVRIN_FUZZ_CHECK(host.position_ == host.maximum_,
                    QStringLiteral("%1 of %2").arg(host.position_).arg(host.maximum_));
  TEVRIN_FUZZ_CHECK(host.saves_ == table.count(), QString::number(host.saves_));
  // Nothing is accepted when no language is ticked.
  if ((data[0] & 0x0F) == 0) TEVRIN_FUZZ_CHECK(table.count() == 0, Describe(table.row(0)));

  for (int i = 0; i < table.count(); ++i) {
    const ChannelRow& row = table.row(i);
    TEVRIN_FUZZ_CHECK(row.subItems.size() == 6, Describe(row));
    TEVRIN_FUZZ_CHECK(row.subItem(tevrin::kSubNumber) == QString::number(i + 1), Describe(row));
    TEVRIN_FUZZ_CHECK(row.image(tevrin::kSubName) == tevrin::kImageTv, Describe(row));
    const int coding = row.image(tevrin::kSubCoding);
    TEVRIN_FUZZ_CHECK(coding == tevrin::kImageFree || coding == tevrin::kImagePaid, Describe(row));
    // The free picture goes only with the free text. The other way round does
    // not hold: a page may write that text in an encryption cell of its own
    // (spread over tags or entities, so the page bytes cannot tell).
    if (coding == tevrin::kImageFree)
      TEVRIN_FUZZ_CHECK(row.subItem(tevrin::kSubCoding) == tevrin::kFreeToAirText, Describe(row));
    // The cleaned cells hold no line break.
    for (int k : {tevrin::kSubTransponder, tevrin::kSubAudio, tevrin::kSubCoding}) {
      const QString text = row.subItem(k);
      TEVRIN_FUZZ_CHECK(!text.contains(u'\r') && !text.contains(u'\n'), Describe(row));
    }
    // A row is taken only for a wanted language, and never a radio row.
    TEVRIN_FUZZ_CHECK(tevrin::IsWantedLanguage(row.subItem(tevrin::kSubAudio), host), Describe(row));
  }
  return 0;
}
