#include "tests/cd/disc_image.h"

#include <cmath>
#include <cstdio>
#include <fstream>

namespace cdtest {

namespace {

std::string Msf(int64_t sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(sectors / 4500),
                static_cast<int>((sectors / 75) % 60), static_cast<int>(sectors % 75));
  return text;
}

void Put(std::ofstream& out, const std::vector<uint8_t>& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A data sector as a disc carries it: sync, address, mode 1, user data.
std::vector<uint8_t> DataSector(int64_t lba) {
  std::vector<uint8_t> s(kSectorBytes, 0);
  for (int i = 1; i <= 10; ++i) s[static_cast<std::size_t>(i)] = 0xFF;
  const int64_t abs = lba + 150;
  const auto bcd = [](int64_t v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); };
  s[12] = bcd(abs / 4500);
  s[13] = bcd((abs / 75) % 60);
  s[14] = bcd(abs % 75);
  s[15] = 1;
  for (int i = 16; i < 16 + 2048; ++i) s[static_cast<std::size_t>(i)] = static_cast<uint8_t>((i * 7 + lba) & 0xFF);
  return s;
}

}  // namespace

int16_t TrackSample(int track, int64_t frame, int channel) {
  // Two tones per channel under a slow swell: music-like, so that the byte
  // order of an image can be told from its content.
  const double t = static_cast<double>(frame) / 44100.0;
  const double f = 220.0 * (track + 2) * (channel == 0 ? 1.0 : 1.5);
  const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t + track);
  const double v = swell * (0.5 * std::sin(2 * M_PI * f * t) + 0.2 * std::sin(2 * M_PI * 2.01 * f * t + channel));
  return static_cast<int16_t>(std::lround(v * 20000.0));
}

TDiscImage MakeDisc(const fs::path& dir, const TDiscLayout& layout) {
  TDiscImage image;
  fs::create_directories(dir);
  image.Cue = dir / (layout.Name + ".cue");
  image.Bin = dir / (layout.Name + ".bin");
  std::ofstream bin(image.Bin, std::ios::binary);
  Put(bin, std::vector<uint8_t>(static_cast<std::size_t>(layout.PregapSectors) * kSectorBytes, 0));

  std::string cue;
  if (layout.CdText) cue += "PERFORMER \"Disc Artist\"\nTITLE \"Disc Title\"\n";
  cue += "FILE \"" + image.Bin.filename().string() + "\" BINARY\n";
  int64_t sector = layout.PregapSectors;
  for (std::size_t t = 0; t < layout.TrackSectors.size(); ++t) {
    const int64_t frames = int64_t{layout.TrackSectors[t]} * 588;
    std::vector<uint8_t> pcm(static_cast<std::size_t>(frames) * 4);
    for (int64_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        const auto v = static_cast<uint16_t>(TrackSample(static_cast<int>(t), i, c));
        pcm[static_cast<std::size_t>(i * 4 + c * 2)] = static_cast<uint8_t>(v);
        pcm[static_cast<std::size_t>(i * 4 + c * 2 + 1)] = static_cast<uint8_t>(v >> 8);
      }
    }
    if (layout.ByteSwapped) {
      std::vector<uint8_t> swapped(pcm.size());
      for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        swapped[i] = pcm[i + 1];
        swapped[i + 1] = pcm[i];
      }
      Put(bin, swapped);
    } else {
      Put(bin, pcm);
    }
    char header[64];
    std::snprintf(header, sizeof header, "  TRACK %02d AUDIO\n", static_cast<int>(t + 1));
    cue += header;
    if (layout.CdText) {
      // Track 2 carries text beyond ASCII.
      const std::string title = t == 1 ? "Zweite Stra\xC3\x9F" "e" : "Track Title " + std::to_string(t + 1);
      cue += "    TITLE \"" + title + "\"\n    PERFORMER \"Artist " + std::to_string(t + 1) + "\"\n";
    }
    if (t == 0 && layout.PregapSectors > 0) cue += "    INDEX 00 00:00:00\n";
    cue += "    INDEX 01 " + Msf(sector) + "\n";
    image.Starts.push_back(static_cast<int32_t>(sector));
    image.Tracks.push_back(std::move(pcm));
    sector += layout.TrackSectors[t];
  }
  if (layout.DataSectors > 0) {
    char header[64];
    std::snprintf(header, sizeof header, "  TRACK %02d MODE1/2352\n", static_cast<int>(layout.TrackSectors.size() + 1));
    cue += header;
    if (layout.DataCopyPermitted) cue += "    FLAGS DCP\n";
    cue += "    INDEX 01 " + Msf(sector) + "\n";
    image.Starts.push_back(static_cast<int32_t>(sector));
    for (int i = 0; i < layout.DataSectors; ++i) Put(bin, DataSector(sector - layout.PregapSectors + i));
    sector += layout.DataSectors;
  }
  image.Starts.push_back(static_cast<int32_t>(sector));
  std::ofstream(image.Cue, std::ios::binary) << cue;
  return image;
}

fs::path MakeTocWithShortData(const fs::path& dir, const TDiscImage& image, int keepSectors) {
  const fs::path bin = dir / "short.bin";
  {
    std::ifstream in(image.Bin, std::ios::binary);
    std::vector<char> data(static_cast<std::size_t>(keepSectors) * kSectorBytes);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    std::ofstream(bin, std::ios::binary).write(data.data(), in.gcount());
  }
  std::string toc = "CD_DA\n";
  for (std::size_t t = 0; t < image.Tracks.size(); ++t) {
    const int64_t start = image.Starts[t];
    const int64_t length = static_cast<int64_t>(image.Tracks[t].size()) / kSectorBytes;
    // libcdio looks for a .toc's files from the working folder, not from the
    // .toc's own: the name is given in full.
    toc += "TRACK AUDIO\nFILE \"" + bin.string() + "\" " + Msf(start) + " " + Msf(length) + "\n";
  }
  const fs::path path = dir / "short.toc";
  std::ofstream(path, std::ios::binary) << toc;
  return path;
}

}  // namespace cdtest
