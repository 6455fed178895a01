// The comment fields a FLAC or Opus stream carries: title, artist, album,
// date, track number, genre and comment, written as Vorbis comments
// ("TITLE=value"). Nothing else is kept: a source's ReplayGain values, for
// one, describe its own signal and never reach these streams.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tags/au_tags.h"

class TStreamCommentTags : public TAuTags {
 public:
  TStreamCommentTags();
  std::string ClassName() const override { return "TStreamCommentTags"; }

  // The fields to write as upper-case names and UTF-8 values, in key
  // order; keys whose value is empty are left out.
  std::vector<std::pair<std::string, std::string>> CommentFields() const;
};
