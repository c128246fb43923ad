// Saved tables (.rec files): fixed-size records read from a file that may be
// damaged or not a table at all.
#include "fuzz/fuzzsupport.h"
#include "table/records.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using tevrin::SavedRecord;

QString Describe(const SavedRecord& r) {
  return QStringList{r.transponder, r.channelName, r.audio, r.video, r.coding, r.saveDate}.join(u'|');
}

bool WithinLimits(const SavedRecord& r) {
  return r.transponder.size() <= tevrin::kFieldTransponder.maxChars &&
         r.channelName.size() <= tevrin::kFieldChannelName.maxChars &&
         r.audio.size() <= tevrin::kFieldAudio.maxChars && r.video.size() <= tevrin::kFieldVideo.maxChars &&
         r.coding.size() <= tevrin::kFieldCoding.maxChars &&
         r.saveDate.size() <= tevrin::kFieldSaveDate.maxChars;
}

bool HasReplacement(const SavedRecord& r) {
  for (const QString* f : {&r.transponder, &r.channelName, &r.audio, &r.video, &r.coding, &r.saveDate})
    if (f->contains(QChar(0xFFFD))) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tevrin::fuzz::EnsureApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer device(&bytes);
  device.open(QIODevice::ReadOnly);

  qsizetype delivered = 0;
  tevrin::ReadSavedRecords(device, [&](const SavedRecord& first) {
    // The reader hands over the record at its place in the file.
    const auto* raw = data + delivered * tevrin::kRecordSize;
    ++delivered;
    TEVRIN_FUZZ_CHECK(first == tevrin::DecodeRecord(raw), Describe(first));
    TEVRIN_FUZZ_CHECK(WithinLimits(first), Describe(first));

    // Every decoded text fits its field, so writing it back loses nothing but
    // the characters the code page lacks, and after one round trip the record
    // is fixed.
    const tevrin::TChannelRec again = tevrin::EncodeRecord(first);
    const SavedRecord second = tevrin::DecodeRecord(again.bytes);
    if (!HasReplacement(first)) TEVRIN_FUZZ_CHECK(second == first, Describe(first) + "\n" + Describe(second));
    const tevrin::TChannelRec third = tevrin::EncodeRecord(second);
    TEVRIN_FUZZ_CHECK(std::memcmp(third.bytes, again.bytes, tevrin::kRecordSize) == 0, Describe(second));
    TEVRIN_FUZZ_CHECK(tevrin::DecodeRecord(third.bytes) == second, Describe(second));
  });
  // A final piece shorter than a record is ignored.
  TEVRIN_FUZZ_CHECK(delivered == bytes.size() / tevrin::kRecordSize, QString::number(delivered));
  return 0;
}
