// Which tags a conversion carries: for each pair of source format and sink
// format, the fields copied from the source's container into the sink's, or
// the whole container. The window and the command line both route through
// this one table.
#pragma once

#include <vector>

#include "codecs/format_catalog.h"
#include "tags/tag_fields.h"

class TAuTags;

struct TTagTransfer {
  // The sink's container takes every value of the source's (by key).
  bool WholeContainer = false;
  // Otherwise these fields, in this order.
  std::vector<TTagField> Fields;
};

// The transfer from a source of format From (by its TagsLike row, or its
// name) to a sink of format To. A pair the table does not list carries
// every field both containers have.
const TTagTransfer& TagTransferFor(const TFormatDescriptor& From, const TFormatDescriptor& To);

// Empties Sink, then copies into it what Transfer says from Source (none:
// a source without tags, Sink stays empty). A number field that does not
// convert raises std::runtime_error with the conversion's message.
void TransferTags(const TTagTransfer& Transfer, const TAuTags* Source, TAuTags& Sink);
