#include "app/tag_transfer.h"

#include <string>

#include "tags/au_tags.h"

namespace {

using F = TTagField;

struct TTransferRow {
  const char* From;
  const char* To;
  TTagTransfer Transfer;
};

const std::vector<TTransferRow>& Table() {
  static const std::vector<TTransferRow> table = {
      {"MP3", "MP3", {false, {F::Title, F::Artist, F::Album, F::Comment, F::Genre}}},
      {"MP3", "OGG", {false, {F::Album, F::Artist, F::Title}}},
      {"MP3", "WMA", {true, {}}},
      {"MP3", "APE", {false, {F::Artist, F::Album, F::Title, F::Genre}}},

      {"OGG", "MP3", {false, {F::Title, F::Artist, F::Album}}},
      {"OGG", "OGG", {false, {F::Album, F::Artist, F::Date, F::Genre, F::Title, F::Track}}},
      {"OGG", "WMA", {false, {F::Title, F::Artist, F::Album}}},
      {"OGG", "APE", {false, {F::Artist, F::Album, F::Title}}},

      {"WMA", "MP3", {false, {F::Title, F::Artist, F::Album, F::Genre}}},
      {"WMA", "OGG", {false, {F::Album, F::Artist, F::Genre, F::Title, F::Track}}},
      {"WMA", "WMA", {true, {}}},
      {"WMA", "APE", {false, {F::Artist, F::Album, F::Title}}},

      // Year and Track reach ID3v1 as numbers, and only when they are not
      // empty (the field conversion leaves an empty one out).
      {"APE", "MP3", {false, {F::Title, F::Artist, F::Album, F::Date, F::Track, F::Genre}}},
      {"APE", "OGG", {false, {F::Album, F::Artist, F::Genre, F::Title, F::Track}}},
      {"APE", "WMA", {false, {F::Title, F::Artist, F::Album, F::Date, F::Track, F::Genre}}},
      {"APE", "APE", {true, {}}},
  };
  return table;
}

}  // namespace

const TTagTransfer& TagTransferFor(const TFormatDescriptor& From, const TFormatDescriptor& To) {
  static const TTagTransfer everyField{false, {kTagFields.begin(), kTagFields.end()}};
  const std::string& row = From.TagsLike.empty() ? From.Name : From.TagsLike;
  for (const TTransferRow& r : Table()) {
    if (row == r.From && To.Name == r.To) return r.Transfer;
  }
  return everyField;
}

void TransferTags(const TTagTransfer& Transfer, const TAuTags* Source, TAuTags& Sink) {
  Sink.Clear();
  if (Source == nullptr) return;
  if (Transfer.WholeContainer) {
    Sink.Assign(Source);
    return;
  }
  for (const TTagField field : Transfer.Fields) WriteTagField(Sink, field, ReadTagField(*Source, field));
}
