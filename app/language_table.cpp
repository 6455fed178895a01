#include "app/language_table.h"

#include <utility>

#include "codecs/format_catalog.h"
#include "platform/ini_file.h"

namespace {

struct KeyText {
  const char* key;
  const char* text;
};

// In the order a language file is applied.
constexpr KeyText kWindowTexts[] = {
    {"MFile.Caption", "&File"},
    {"MAddFiles.Caption", "Add Files ..."},
    {"MAddFolder.Caption", "Add Folder ..."},
    {"MDelete.Caption", "Delete"},
    {"MClear.Caption", "Clear"},
    {"MEject.Caption", "Eject CD"},
    {"MCloseTray.Caption", "Close CD"},
    {"MExit.Caption", "Exit"},
    {"MList.Caption", "List"},
    {"MCheckAll.Caption", "Check All"},
    {"MUncheckAll.Caption", "Uncheck All"},
    {"MSelectAll.Caption", "Select All"},
    {"MConvert.Caption", "Convert"},
    {"MStart.Caption", "Start"},
    {"MPause.Caption", "Pause"},
    {"MStop.Caption", "Stop"},
    {"MGrab.Caption", "Grab"},
    {"MGetTracks.Caption", "Get Tracks"},
    {"MGrabStart.Caption", "Start"},
    {"MGrabPause.Caption", "Pause"},
    {"MGrabStop.Caption", "Stop"},
    {"MOptions.Caption", "Options"},
    {"MSettings.Caption", "Settings"},
    {"MLanguage.Caption", "Language"},
    {"MLangEnglish.Caption", "English"},
    {"MLangRussian.Caption", "Russian"},
    {"MHelp.Caption", "Help"},
    {"MAbout.Caption", "About Program"},
    {"ListView1.Column[0].Caption", "Filename"},
    {"ListView1.Column[1].Caption", "Length"},
    {"ListView1.Column[2].Caption", "Samplerate"},
    {"ListView1.Column[3].Caption", "Bitrate"},
    // What a screen reader calls the list and the progress gauge.
    {"ListView1.AccessibleName", "Audio files"},
    {"Gauge1.AccessibleName", "Conversion progress"},
    {"tbEject.Hint", "Eject CD"},
    {"tbCloseTray.Hint", "Close CD tray"},
    {"tbAddFiles.Hint", "Add files"},
    {"tbAddFolder.Hint", "Add folder"},
    {"tbDelete.Hint", "Delete selected files"},
    {"tbClear.Hint", "Clear the list"},
    {"tbConvert.Hint", "Start converting"},
    {"tbPause.Hint", "Pause"},
    {"tbStop.Hint", "Stop"},
    {"tbSettings.Hint", "Settings"},
    {"tbAddFolder.Caption", "Add Folder"},
    {"tbAddFiles.Caption", "Add Files"},
    {"tbDelete.Caption", "Delete"},
    {"tbClear.Caption", "Clear"},
    {"tbConvert.Caption", "Convert"},
    {"tbPause.Caption", "Pause"},
    {"tbStop.Caption", "Stop"},
    {"tbSettings.Caption", "Settings"},
    {"tbEject.Caption", "Eject"},
    {"tbCloseTray.Caption", "Close Tray"},
    {"OpenDialog1.Filter",
     "All Supported Files|*.wav;*.mp3;*.ogg;*.wma;*.ape|WAV Files (*.wav)|*.wav|"
     "MP3 Files (*.mp3)|*.mp3|OGG Files (*.ogg)|*.ogg|WMA File (*.wma)|*.wma|"
     "APE File (*.ape)|*.ape|Other Audio Files (*.flac;*.m4a;*.aac;*.opus;*.oga;*.aif;*.aiff;*.aifc;*.wv;*.mpc;*.ac3;*.mp2;*.au;*.caf;*.mka;*.tta;*.spx)|"
     "*.flac;*.m4a;*.aac;*.opus;*.oga;*.aif;*.aiff;*.aifc;*.wv;*.mpc;*.ac3;*.mp2;*.au;*.caf;*.mka;*.tta;*.spx"},
    {"StringSelectItem", ""},
    {"StringConverting", ""},
    {"StringGrabbing", "Grabbing: "},
    {"StringNoDrive", "No CD drive was found."},
    {"StringNoTracks", "There is no disc in the drive, or its table of contents cannot be read."},
    {"StringChecking", "Checking: "},
    {"FormSettings.Caption", "Settings"},
    {"FormSettings.LabelDrives.Caption", "Drives:"},
    {"FormSettings.LabelAudioDevice.Caption", "Audio Device:"},
    {"FormSettings.GroupBoxSaving.Caption", " Saving "},
    {"FormSettings.LabelOutput.Caption", "Output Directory:"},
    {"FormSettings.GroupBoxConverting.Caption", " Converting "},
    {"FormSettings.LabelBitrate.Caption", "Bitrate (mp3, wma):"},
    {"FormSettings.LabelConvertTo.Caption", "Convert to:"},
    {"FormSettings.LabelOggQuality.Caption", "Ogg Quality:"},
    {"FormSettings.LabelApeCompression.Caption", "Ape Compression"},
    {"FormSettings.CheckBoxOutputSame.Caption", "same as input directory"},
    {"FormSettings.ButtonClose.Caption", "Close"},
    {"FormSettings.CheckBoxDeleteSource.Caption", "delete source files"},
    {"FormSettings.GroupBoxWav.Caption", " WAV File "},
    {"FormSettings.LabelChannels.Caption", "Channels:"},
    {"FormSettings.LabelSr.Caption", "Sample Rate:"},
    {"FormSettings.LabelBps.Caption", "Bits Per Sample:"},
    {"FormSettings.LabelFormat.Caption", "Format:"},
    {"FormSettings.LabelPriority.Caption", "Thread Prioriry:"},
    {"FormSettings.LabelJobs.Caption", "Files at once (0: one per core):"},
    {"FormSettings.ComboBoxPriority.Items.Strings[0]", "Idle"},
    {"FormSettings.ComboBoxPriority.Items.Strings[1]", "Lowest"},
    {"FormSettings.ComboBoxPriority.Items.Strings[2]", "Lower"},
    {"FormSettings.ComboBoxPriority.Items.Strings[3]", "Normal"},
    {"FormSettings.ComboBoxPriority.Items.Strings[4]", "Higher"},
    {"FormSettings.ComboBoxPriority.Items.Strings[5]", "Highest"},
    {"FormSettings.ComboBoxPriority.Items.Strings[6]", "Critical"},
    {"FormSettings.LabelExistingOutput.Caption", "Existing output:"},
    {"FormSettings.ComboBoxExistingOutput.Items.Strings[0]", "keep both"},
    {"FormSettings.ComboBoxExistingOutput.Items.Strings[1]", "replace"},
    {"FormSettings.ComboBoxExistingOutput.Items.Strings[2]", "skip the file"},
    {"FormAbout.Caption", "About Program"},
    {"FormAbout.LabelAbout.Caption", "convert audio files, grab audio from cd"},
    {"FormAbout.LabelAuthor.Caption", "The Quellmark developers"},
    {"FormAbout.LabelSite.Caption", "https://quellmark.example.org/"},
};

struct TKeyTable {
  std::vector<std::string> keys;
  std::vector<std::string> texts;
};

const TKeyTable& Table() {
  static const TKeyTable table = [] {
    TKeyTable t;
    auto add = [&t](std::string key, std::string text) {
      for (const std::string& k : t.keys) {
        if (k == key) return;
      }
      t.keys.push_back(std::move(key));
      t.texts.push_back(std::move(text));
    };
    for (const KeyText& k : kWindowTexts) add(k.key, k.text);
    for (const TFormatSetting* s : format_catalog::Settings()) {
      add("FormSettings." + s->LabelName + ".Caption", s->Label);
    }
    for (const TFormatDescriptor* f : format_catalog::All()) {
      if (!f->SettingsGroupName.empty()) add("FormSettings." + f->SettingsGroupName + ".Caption", f->SettingsGroupCaption);
    }
    return t;
  }();
  return table;
}

int IndexOf(std::string_view key) {
  const auto& keys = Table().keys;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (key == keys[i]) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

TLanguageTable::TLanguageTable() : texts_(Table().texts) {}

const std::vector<std::string>& TLanguageTable::Keys() { return Table().keys; }

std::string TLanguageTable::BuiltIn(std::string_view key) {
  const int i = IndexOf(key);
  return i < 0 ? std::string() : Table().texts[static_cast<std::size_t>(i)];
}

const std::string& TLanguageTable::Text(std::string_view key) const {
  static const std::string empty;
  const int i = IndexOf(key);
  return i < 0 ? empty : texts_[static_cast<std::size_t>(i)];
}

void TLanguageTable::SetText(std::string_view key, std::string text) {
  const int i = IndexOf(key);
  if (i >= 0) texts_[static_cast<std::size_t>(i)] = std::move(text);
}

void TLanguageTable::Apply(const std::filesystem::path& languageFile) {
  const platform::TIniFile ini(languageFile);
  const auto& keys = Table().keys;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    texts_[i] = ini.ReadString(kLanguageSection, keys[i], texts_[i]);
  }
}

std::filesystem::path TLanguageTable::FileFor(const std::filesystem::path& dir,
                                              std::string_view name) {
  // A name is a file in the language folder, never a path leading elsewhere.
  if (name.empty() || name.find('/') != std::string_view::npos) return {};
  return dir / (std::string(name) + ".ini");
}

