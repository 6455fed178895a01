// The Vorbis comment container of Ogg Vorbis streams. The comment header is
// built and parsed by the Vorbis library; this class turns its fields into
// values and back.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tags/au_tags.h"

class TVorbisTags : public TAuTags {
 public:
  TVorbisTags();
  std::string ClassName() const override { return "TVorbisTags"; }

  std::u16string Album() const { return GetWideString("album"); }
  void SetAlbum(std::u16string_view Value) { SetValue("album", std::u16string(Value)); }
  std::u16string Artist() const { return GetWideString("artist"); }
  void SetArtist(std::u16string_view Value) { SetValue("artist", std::u16string(Value)); }
  std::u16string Date() const { return GetWideString("date"); }
  void SetDate(std::u16string_view Value) { SetValue("date", std::u16string(Value)); }
  std::u16string Genre() const { return GetWideString("genre"); }
  void SetGenre(std::u16string_view Value) { SetValue("genre", std::u16string(Value)); }
  std::u16string Title() const { return GetWideString("title"); }
  void SetTitle(std::u16string_view Value) { SetValue("title", std::u16string(Value)); }
  std::u16string Track() const { return GetWideString("tracknumber"); }
  void SetTrack(std::u16string_view Value) { SetValue("tracknumber", std::u16string(Value)); }
  std::u16string Disc() const { return GetWideString("discnumber"); }
  void SetDisc(std::u16string_view Value) { SetValue("discnumber", std::u16string(Value)); }
  std::u16string Reference() const { return GetWideString("replaygain_reference_loudness"); }
  void SetReference(std::u16string_view Value) { SetValue("replaygain_reference_loudness", std::u16string(Value)); }
  std::u16string TrackGain() const { return GetWideString("replaygain_track_gain"); }
  void SetTrackGain(std::u16string_view Value) { SetValue("replaygain_track_gain", std::u16string(Value)); }
  std::u16string TrackPeak() const { return GetWideString("replaygain_track_peak"); }
  void SetTrackPeak(std::u16string_view Value) { SetValue("replaygain_track_peak", std::u16string(Value)); }
  std::u16string AlbumGain() const { return GetWideString("replaygain_album_gain"); }
  void SetAlbumGain(std::u16string_view Value) { SetValue("replaygain_album_gain", std::u16string(Value)); }
  std::u16string AlbumPeak() const { return GetWideString("replaygain_album_peak"); }
  void SetAlbumPeak(std::u16string_view Value) { SetValue("replaygain_album_peak", std::u16string(Value)); }

  // The fields to write, as UTF-8 name and value pairs in key order; keys
  // whose value is empty are left out.
  std::vector<std::pair<std::string, std::string>> CommentFields() const;
  // Takes one "NAME=value" comment of a stream. Only artist, album, title,
  // date, genre and tracknumber (any case) are taken; a later comment of the
  // same name replaces an earlier one.
  void ReadComment(std::string_view Comment);
};
