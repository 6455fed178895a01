// The independent reading of tags for the routing tests: what mutagen finds
// in a file of any format, under one set of names.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace routingtest {

using namespace qmtest;

using TTags = std::map<std::string, std::string>;

// The tags mutagen finds in a file, under one set of names for every
// format (title, artist, album, date, track, genre, comment, copyright);
// empty values are left out.
inline TTags ReadTags(const fs::path& file) {
  static const char* const kScript =
      "import sys, mutagen\n"
      "from mutagen.mp3 import MP3\n"
      "p = sys.argv[1]\n"
      "names = {'TIT2': 'title', 'TPE1': 'artist', 'TALB': 'album', 'TDRC': 'date', 'TYER': 'date',\n"
      "  'TRCK': 'track', 'TCON': 'genre', 'TCOP': 'copyright', 'Title': 'title', 'Author': 'artist',\n"
      "  'WM/AlbumTitle': 'album', 'WM/Genre': 'genre', 'WM/Year': 'date', 'WM/Track': 'track',\n"
      "  'WM/TrackNumber': 'track', 'Copyright': 'copyright', 'tracknumber': 'track', 'year': 'date'}\n"
      "f = MP3(p) if p.endswith('.mp3') else mutagen.File(p)\n"
      "out = {}\n"
      "known = {'title', 'artist', 'album', 'date', 'track', 'genre', 'comment', 'copyright'}\n"
      "for k, v in (f.tags.items() if f is not None and f.tags is not None else []):\n"
      "  base = k.split(':')[0]\n"
      "  key = names.get(base, names.get(base.lower(), base.lower()))\n"
      "  if base == 'COMM': key = 'comment'\n"
      "  vals = v if isinstance(v, list) else [v]\n"
      "  text = ''\n"
      "  for x in vals:\n"
      "    x = x.value if hasattr(x, 'value') else x\n"
      "    x = str(x.text[0]) if hasattr(x, 'text') else str(x)\n"
      "    if x: text = x; break\n"
      "  if text and key in known: out[key] = text\n"
      "for k in sorted(out): print(k + '=' + out[k])\n";
  const TRunResult r = RunShell("/usr/bin/python3 -c " + Quote(kScript) + " " + Quote(file));
  EXPECT_EQ(r.Status, 0) << r.Err;
  TTags tags;
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) tags[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return tags;
}

#ifdef QUELLMARK_CLI
// Converts the files in one run of quellmark-cli with these options and
// returns the outputs it reports ("done: OUTPUT"), one for each file.
inline std::vector<fs::path> CliConvert(const std::string& options, const std::vector<fs::path>& files) {
  std::string command = Quote(QUELLMARK_CLI) + " " + options;
  for (const fs::path& f : files) command += " " + Quote(f);
  const TRunResult r = RunShell(command);
  EXPECT_EQ(r.Status, 0) << command << "\n" << r.Out << r.Err;
  std::vector<fs::path> outputs;
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("done: ", 0) == 0) outputs.emplace_back(line.substr(6));
  }
  EXPECT_EQ(outputs.size(), files.size()) << r.Out;
  return outputs;
}
#endif

}  // namespace routingtest
