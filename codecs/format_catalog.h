// The formats this build knows, one descriptor per format. Each descriptor
// sits in codecs/<name>_format.cpp beside the format's components; the build
// collects every such file into the catalog, so a new format is its
// descriptor, its components and its interface texts, and nothing else.
// The file list's extensions, the open dialog's filter, the settings and the
// settings dialog's format controls, the pipeline set's components, the
// routing and the command line's format list all read the catalog.
#pragma once

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/au_input.h"
#include "pipeline/au_output.h"
#include "pipeline/decode_check.h"

class TAuTags;
class TFastResampler;
class TAudioConverter;

// The settings as a format reads them: by the key of [Options].
class TFormatOptions {
 public:
  virtual ~TFormatOptions() = default;
  virtual int Integer(const std::string& Key) const = 0;
  virtual std::string Text(const std::string& Key) const = 0;
};

// A setting a format takes: a key of [Options], its default and the control
// the settings dialog offers for it.
struct TFormatSetting {
  enum class TKind { Integer, Text };
  enum class TControl {
    SpinEdit,       // Min..Max in steps of Step, chosen with the arrows only
    IndexList,      // a drop-down list of Items; the value is the item index
    TextList,       // a drop-down list of Items; the value is the item text
    Edit            // decimal text typed in
  };

  std::string Key;
  TKind Kind = TKind::Integer;
  std::string Default;
  TControl Control = TControl::SpinEdit;
  int Min = 0;
  int Max = 0;
  int Step = 1;
  std::vector<std::string> Items;
  // Integers outside this range are refused where a value is taken in (the
  // settings dialog, the command line).
  int ValidMin = INT_MIN;
  int ValidMax = INT_MAX;
  // The dialog's label and control. The label's interface text is the key
  // "FormSettings.<LabelName>.Caption".
  std::string LabelName;
  std::string Label;
  std::string ControlName;

  bool Accepts(int Value) const { return Value >= ValidMin && Value <= ValidMax; }
};

// The converters the WAV path puts between a WAV source and the WAV sink;
// one pair per pipeline set.
struct TSinkChain {
  TFastResampler* Resampler = nullptr;
  TAudioConverter* Converter = nullptr;
};

struct TFormatDescriptor {
  // "WAV": the item of the settings dialog's "Convert to" list.
  std::string Name;
  // The open dialog's entry for the format before a language names it.
  std::string FileDescription;
  // Lower case, with the dot.
  std::vector<std::string> InputExtensions;
  // The value of "outputType" that writes the format (-1: not written).
  // Output types are numbered from 0 without gaps.
  int OutputType = -1;
  std::string OutputExtension;
  // The codec libraries the components load by name at run time.
  std::vector<std::string> Libraries;
  std::vector<TFormatSetting> Settings;
  // The object name of a settings-dialog group of the format's own, and its
  // built-in caption; empty: its settings go to the " Converting " group.
  std::string SettingsGroupName;
  std::string SettingsGroupCaption;

  // The components, named as the application knows them ("WaveIn1"). A
  // factory that is empty means this build has no such component yet: its
  // files are listed but skipped, its output type is refused.
  std::string SourceName;
  std::function<TAuFileIn*(TComponent* Owner)> CreateSource;
  // For a source whose row shows the stream bit rate ("128 kbps"): that
  // rate in bit/s. Empty: the row shows bits per sample ("16 bps").
  std::function<long long(TAuFileIn&)> StreamBitrate;
  std::function<TAuTags*(TAuFileIn&)> SourceTags;
  // The format whose row of the tag-transfer table this source's tags
  // follow (a name such as "WMA"); empty: its own.
  std::string TagsLike;

  std::string SinkName;
  std::function<TAuFileOut*(TComponent* Owner)> CreateSink;
  // What the sink pulls for a source of format From; empty: the source.
  // (CD audio comes as From = WAV: it is PCM as a WAV file holds it.)
  std::function<TAuInput*(const TFormatDescriptor& From, TAuInput& Source, const TSinkChain& Chain)> SinkInput;
  // Sets the sink's format parameters (and those of the chain it pulls
  // through) from the settings.
  std::function<void(TAuFileOut& Sink, const TSinkChain& Chain, const TFormatOptions& Options)> ConfigureSink;
  std::function<TAuTags*(TAuFileOut&)> SinkTags;
  // How the sink's output, read back by the format's source, may differ
  // from what the sink was given, for the sink as it was configured for the
  // run. Empty: it must decode to the very length written.
  std::function<TDecodeTolerance(const TAuFileOut&)> DecodeTolerance;

  bool Reads() const { return static_cast<bool>(CreateSource); }
  bool Writes() const { return static_cast<bool>(CreateSink); }
};

// "Bitrate": the bit rate in kbit/s that MP3 and WMA output share, as text.
TFormatSetting BitrateSetting();

// Defines the descriptor function of the format file <name>_format.cpp.
#define QUELLMARK_FORMAT_DESCRIPTOR(name) const TFormatDescriptor& QuellmarkFormat_##name()

namespace format_catalog {

// Every format, in output-type order (formats that are only read last).
const std::vector<const TFormatDescriptor*>& All();
// The format that reads files of this extension (lower case, with the dot).
const TFormatDescriptor* ForExtension(const std::string& Ext);
const TFormatDescriptor* ForOutputType(int OutputType);
// Every extension of every format, in catalog order.
const std::vector<std::string>& InputExtensions();
// Every format setting once (a key two formats share is declared alike),
// the ones of the " Converting " group first, then each group of a format's
// own, each in catalog order.
const std::vector<const TFormatSetting*>& Settings();
const TFormatSetting* Setting(const std::string& Key);
// The format whose own settings group holds the setting, or nullptr.
const TFormatDescriptor* GroupOwner(const TFormatSetting& Setting);

}  // namespace format_catalog
