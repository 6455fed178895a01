// File sources and sinks of the formats that carry ID3 or APEv2 tags. Each
// owns one container of every kind for as long as it lives.
#pragma once

#include "pipeline/au_input.h"
#include "pipeline/au_output.h"
#include "tags/apev2_tags.h"
#include "tags/id3v1_tags.h"
#include "tags/id3v2_tags.h"

class TAuTaggedFileIn : public TAuFileIn {
 public:
  explicit TAuTaggedFileIn(TComponent* AOwner = nullptr) : TAuFileIn(AOwner) {}

  TId3v1Tags& Id3v1Tags() { return FId3v1Tags; }
  TId3v2Tags& Id3v2Tags() { return FId3v2Tags; }
  TAPEv2Tags& APEv2Tags() { return FAPEv2Tags; }

 protected:
  TId3v1Tags FId3v1Tags;
  TId3v2Tags FId3v2Tags;
  TAPEv2Tags FAPEv2Tags;
};

class TAuTaggedFileOut : public TAuFileOut {
 public:
  explicit TAuTaggedFileOut(TComponent* AOwner = nullptr) : TAuFileOut(AOwner) {}

  TId3v1Tags& Id3v1Tags() { return FId3v1Tags; }
  TId3v2Tags& Id3v2Tags() { return FId3v2Tags; }
  TAPEv2Tags& APEv2Tags() { return FAPEv2Tags; }

  // The setters copy the values of Value into the sink's own container (by
  // key, so any tag format may be given); the caller's object is not kept.
  void SetId3v1Tags(const TAuTags& Value) { FId3v1Tags.Assign(&Value); }
  void SetId3v2Tags(const TAuTags& Value) { FId3v2Tags.Assign(&Value); }
  void SetAPEv2Tags(const TAuTags& Value) { FAPEv2Tags.Assign(&Value); }

 protected:
  TId3v1Tags FId3v1Tags;
  TId3v2Tags FId3v2Tags;
  TAPEv2Tags FAPEv2Tags;
};
