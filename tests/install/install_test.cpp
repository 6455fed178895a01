// Installs the build with `cmake --install` into a temporary DESTDIR, moves
// the installed tree elsewhere, and checks it: the files, the desktop entry
// and metainfo (with the desktop's own validators), the manual pages (with
// man), and the installed programs run from the moved tree with a clean
// environment, so nothing of the build tree can stand in for what the tree
// lacks. Then the Debian package from the same rules, with dpkg-deb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/conversion_driver.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace fs = std::filesystem;

namespace {

const std::string kId = QUELLMARK_APP_ID;
const fs::path kBuildDir = QUELLMARK_BUILD_DIR;

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a command line through the shell.
TRun Shell(const std::string& command) {
  const TRunResult run = RunShell(command);
  return {run.Status, run.Out, run.Err};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// The value of a key of a desktop entry's main group.
std::string DesktopKey(const std::string& entry, const std::string& key) {
  for (const std::string& line : Lines(entry)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

// The regular files below a folder, as paths relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
  }
  return files;
}

// What the install must hold, relative to the prefix.
std::set<std::string> ExpectedFiles() {
  std::set<std::string> files = {"bin/quellmark-cli", "share/quellmark/language/English.ini",
                                 "share/quellmark/language/Russian.ini", "share/man/man1/quellmark-cli.1.gz"};
  // Every codec library the build made, in the private folder.
  for (const auto& entry : fs::directory_iterator(kBuildDir / "bin")) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) files.insert("lib/quellmark/" + name);
  }
  if (QUELLMARK_WITH_WINDOW) {
    files.insert({"bin/quellmark", "share/man/man1/quellmark.1.gz", "share/applications/" + kId + ".desktop",
                  "share/metainfo/" + kId + ".metainfo.xml", "share/icons/hicolor/scalable/apps/" + kId + ".svg"});
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const std::string folder = std::to_string(size) + "x" + std::to_string(size);
      files.insert("share/icons/hicolor/" + folder + "/apps/" + kId + ".png");
    }
  }
  return files;
}

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TTempDir;
    const fs::path stage = *dir_ / "stage";
    install_ = Shell("DESTDIR=" + Quote(stage.string()) + " " + Quote(QUELLMARK_CMAKE) + " --install " +
                     Quote(kBuildDir.string()) + " --prefix /usr");
    // The tree works wherever it is put.
    std::error_code ec;
    fs::create_directories(*dir_ / "elsewhere", ec);
    fs::rename(stage / "usr", Prefix(), ec);
    fs::create_directories(*dir_ / "home", ec);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static fs::path Prefix() { return *dir_ / "elsewhere" / "usr"; }
  static const fs::path& Scratch() { return dir_->Path(); }

  // An installed program run with a clean environment: no library path, no
  // build folder on PATH, a home of its own.
  static TRun RunInstalled(const std::string& program, const std::string& args, const std::string& env = "") {
    std::string command = "env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME=" + Quote((*dir_ / "home").string());
    for (const char* passed : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* value = std::getenv(passed)) command += std::string(" ") + passed + "=" + Quote(value);
    }
    if (!env.empty()) command += " " + env;
    return Shell(command + " " + Quote((Prefix() / "bin" / program).string()) + " " + args);
  }

  void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out << install_.err; }

  static TTempDir* dir_;
  static TRun install_;
};

TTempDir* InstallTest::dir_ = nullptr;
TRun InstallTest::install_;

TEST_F(InstallTest, TreeHoldsTheProgramsTheirCodecLibrariesAndTheirData) {
  QM_REQUIRE_TOOLS("readelf");
  EXPECT_EQ(FilesBelow(Prefix()), ExpectedFiles());
  for (const char* language : {"English.ini", "Russian.ini"}) {
    EXPECT_EQ(ReadText(Prefix() / "share/quellmark/language" / language),
              ReadText(fs::path(QUELLMARK_SOURCE_DIR) / "language" / language));
  }
  // No program keeps a search path into the build tree.
  for (const std::string& file : ExpectedFiles()) {
    if (file.rfind("bin/", 0) != 0 && file.rfind("lib/", 0) != 0) continue;
    const std::string dynamic = RunShell("readelf -d " + Quote((Prefix() / file).string())).Out;
    EXPECT_NE(dynamic.find("NEEDED"), std::string::npos) << file;
    EXPECT_EQ(dynamic.find(kBuildDir.string()), std::string::npos) << file << "\n" << dynamic;
  }
}

TEST_F(InstallTest, InstalledCliProbesAndConvertsWavAndApeFromTheMovedTree) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  const fs::path in = Scratch() / "music";
  const fs::path source = in / "tone.wav";
  WriteSineWav(source, 44100, 2, 16, 44100 * 2);

  TRun r = RunInstalled("quellmark-cli", "--probe " + Quote(in.string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "tone.wav\t0:02\t44100 Hz\t16 bps\t" + source.string() + "\n");

  r = RunInstalled("quellmark-cli", "--set wavSr=22050 --set wavCh=1 --set wavBps=16 " + Quote(source.string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + source.string() + ".wav\n");
  EXPECT_EQ(ProbeStream(source.string() + ".wav"), "pcm_s16le|22050|1|16");

  // Monkey's Audio goes through our own codec library, which must come from
  // the moved tree.
  const fs::path out = Scratch() / "ape";
  fs::create_directories(out);
  r = RunInstalled("quellmark-cli",
                   "--set outputType=4 --set asInput=0 --set OutputDir=" + Quote(out.string()) + " " +
                       Quote(source.string()),
                   "LD_DEBUG=files");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (out / "tone.ape").string() + "\n");
  EXPECT_NE(r.err.find("file=" + (Prefix() / "bin").string() + "/../lib/quellmark/libapecodec.so"),
            std::string::npos)
      << r.err.substr(0, 4000);
  EXPECT_EQ(r.err.find(kBuildDir.string()), std::string::npos);
  EXPECT_EQ(ProbeStream(out / "tone.ape"), "ape|44100|2|0");
  const auto pcm = [](const fs::path& file) {
    return RunShell("ffmpeg -v error -i " + Quote(file.string()) + " -f s16le - | md5sum").Out;
  };
  EXPECT_EQ(pcm(out / "tone.ape"), pcm(source));

  // And back: the APE source is decoded by the same library.
  r = RunInstalled("quellmark-cli", "--set outputType=0 " + Quote((out / "tone.ape").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ProbeStream(out / "tone.wav"), "pcm_s16le|44100|2|16");
  EXPECT_EQ(pcm(out / "tone.wav"), pcm(source));

  r = RunInstalled("quellmark-cli", "--version");
  EXPECT_EQ(r.out, std::string("quellmark-cli ") + kAppVersion + "\n");
}

TEST_F(InstallTest, ManualPagesRenderAndNameEveryOption) {
  std::vector<std::string> programs = {"quellmark-cli"};
  if (QUELLMARK_WITH_WINDOW) programs.push_back("quellmark");
  for (const std::string& program : programs) {
    const fs::path page = Prefix() / "share/man/man1" / (program + ".1.gz");
    const TRun man = Shell("MANWIDTH=80 man --warnings -l " + Quote(page.string()));
    EXPECT_EQ(man.status, 0) << program;
    EXPECT_EQ(man.err, "") << program;
    EXPECT_NE(man.out.find("NAME"), std::string::npos) << man.out;
    EXPECT_NE(man.out.find(program + " - "), std::string::npos) << man.out;
    // Whatever --help offers, the page explains.
    const TRun help = RunInstalled(program, "--help");
    EXPECT_EQ(help.status, 0) << program << help.err;
    std::set<std::string> options;
    for (const std::string& word : Split(help.out, ' ')) {
      std::string option;
      for (char c : word) {
        if (c == '-' || std::isalnum(static_cast<unsigned char>(c))) option += c;
        else break;
      }
      if (option.size() > 2 && option.rfind("--", 0) == 0) options.insert(option);
    }
    EXPECT_GE(options.size(), 2u) << help.out;
    // man renders "--" as a plain dash pair or as the Unicode minus signs.
    std::string text = man.out;
    for (std::size_t at; (at = text.find("\xe2\x80\x90")) != std::string::npos;) text.replace(at, 3, "-");
    for (std::size_t at; (at = text.find("\xe2\x88\x92")) != std::string::npos;) text.replace(at, 3, "-");
    for (const std::string& option : options) EXPECT_NE(text.find(option), std::string::npos) << program << ": " << option;
  }
}

TEST_F(InstallTest, DesktopEntryIconAndMetainfoValidate) {
  QM_REQUIRE_TOOLS("appstreamcli", "desktop-file-validate", "ffprobe");
  if (!QUELLMARK_WITH_WINDOW) GTEST_SKIP() << "built without the window";
  const fs::path entryFile = Prefix() / "share/applications" / (kId + ".desktop");
  const TRun validate = Shell("desktop-file-validate " + Quote(entryFile.string()));
  EXPECT_EQ(validate.status, 0) << validate.out << validate.err;
  EXPECT_EQ(validate.out + validate.err, "");
  const std::string entry = ReadText(entryFile);
  EXPECT_EQ(DesktopKey(entry, "Exec"), "quellmark %F");
  EXPECT_EQ(DesktopKey(entry, "Icon"), kId);
  EXPECT_TRUE(fs::is_regular_file(Prefix() / "bin" / DesktopKey(entry, "TryExec")));

  // File managers offer the program for every extension the catalog reads:
  // each has a MIME type the entry names, as shared-mime-info maps them
  // (an extension it has no type for, such as .caf in some versions, is
  // offered by none).
  const std::vector<std::string> mimeTypes = Split(DesktopKey(entry, "MimeType"), ';');
  const std::string globs = ReadText("/usr/share/mime/globs2");
  ASSERT_FALSE(globs.empty()) << "shared-mime-info is not installed";
  const TRun formats = RunInstalled("quellmark-cli", "--list-formats");
  ASSERT_EQ(formats.status, 0);
  for (const std::string& line : Lines(formats.out)) {
    const std::vector<std::string> cells = Split(line, '\t');
    ASSERT_GE(cells.size(), 2u) << line;
    for (const std::string& ext : Split(cells[1], ',')) {
      bool known = false;
      bool offered = false;
      for (const std::string& glob : Lines(globs)) {
        const std::vector<std::string> parts = Split(glob, ':');
        if (parts.size() >= 3 && parts[2] == "*" + ext) {
          known = true;
          if (std::find(mimeTypes.begin(), mimeTypes.end(), parts[1]) != mimeTypes.end()) offered = true;
        }
      }
      EXPECT_TRUE(offered || !known) << ext << " has no MIME type in " << DesktopKey(entry, "MimeType");
    }
  }

  // Each PNG is the size its folder says (ffprobe reads it).
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    const fs::path png = Prefix() / "share/icons/hicolor" / folder / "apps" / (kId + ".png");
    EXPECT_EQ(RunShell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                         Quote(png.string())).Out,
              "png," + std::to_string(size) + "," + std::to_string(size) + "\n");
  }

  const fs::path metainfo = Prefix() / "share/metainfo" / (kId + ".metainfo.xml");
  const TRun appstream = Shell("appstreamcli validate --no-net " + Quote(metainfo.string()));
  EXPECT_EQ(appstream.status, 0) << appstream.out << appstream.err;
  const std::string xml = ReadText(metainfo);
  EXPECT_NE(xml.find("<id>" + kId + "</id>"), std::string::npos);
  EXPECT_NE(xml.find("<launchable type=\"desktop-id\">" + kId + ".desktop</launchable>"), std::string::npos);
  EXPECT_NE(xml.find("<screenshot type=\"default\">"), std::string::npos);
  EXPECT_NE(xml.find(std::string("<release version=\"") + kAppVersion + "\""), std::string::npos);
}

TEST_F(InstallTest, InstalledWindowAnswersVersionAndHelpWithoutADisplay) {
  if (!QUELLMARK_WITH_WINDOW) GTEST_SKIP() << "built without the window";
  TRun r = RunInstalled("quellmark", "--version");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string("quellmark ") + kAppVersion + "\n");
  r = RunInstalled("quellmark", "--help");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("usage: quellmark ", 0), 0u) << r.out;
  r = RunInstalled("quellmark", "--no-such-option", "QT_QPA_PLATFORM=offscreen");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown option --no-such-option"), std::string::npos) << r.err;
}

// The package: cpack -G DEB over the same install rules, its control data
// and files read back with dpkg-deb.
TEST_F(InstallTest, DebianPackageHoldsTheTreeAndItsDependencies) {
  QM_REQUIRE_TOOLS("dpkg-deb", "ffprobe");
  if (!QUELLMARK_CHECK_PACKAGE) GTEST_SKIP() << "no package from a sanitizer build";
  const fs::path out = Scratch() / "package";
  const TRun cpack = Shell("cd " + Quote(kBuildDir.string()) + " && " + Quote(QUELLMARK_CPACK) +
                             " -G DEB -B " + Quote(out.string()));
  ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
  const std::string arch = Split(RunShell("dpkg --print-architecture").Out, '\n').at(0);
  const fs::path deb = out / (std::string("quellmark_") + kAppVersion + "_" + arch + ".deb");
  ASSERT_TRUE(fs::is_regular_file(deb)) << cpack.out;

  const std::string info = RunShell("dpkg-deb --info " + Quote(deb.string())).Out;
  std::cout << info;
  EXPECT_NE(info.find(" Package: quellmark\n"), std::string::npos);
  EXPECT_NE(info.find(std::string(" Version: ") + kAppVersion + "\n"), std::string::npos);
  EXPECT_NE(info.find(" Section: sound\n"), std::string::npos);
  std::string depends;
  for (const std::string& line : Lines(info)) {
    if (line.rfind(" Depends: ", 0) == 0) depends = line;
  }
  // From dpkg-shlibdeps: what the programs link.
  std::vector<std::string> needed = {"libc6", "libstdc++6", "libavcodec"};
  if (QUELLMARK_WITH_WINDOW) needed.push_back("libqt6widgets6");
  for (const std::string& package : needed) EXPECT_NE(depends.find(package), std::string::npos) << depends;
  EXPECT_NE(info.find(" Recommends: libmp3lame0"), std::string::npos);

  const std::string contents = RunShell("dpkg-deb --contents " + Quote(deb.string())).Out;
  std::cout << contents;
  std::set<std::string> files;
  for (const std::string& line : Lines(contents)) {
    const auto at = line.find(" ./usr/");
    if (line.rfind('-', 0) == 0 && at != std::string::npos) files.insert(line.substr(at + 7));
  }
  EXPECT_EQ(files, ExpectedFiles());

  // Unpacked elsewhere, its programs run.
  const fs::path unpacked = Scratch() / "unpacked";
  ASSERT_EQ(Shell("dpkg-deb -x " + Quote(deb.string()) + " " + Quote(unpacked.string())).status, 0);
  const fs::path source = Scratch() / "deb-music" / "a.wav";
  WriteSineWav(source, 8000, 1, 16, 8000);
  const TRun ape = Shell(Quote((unpacked / "usr/bin/quellmark-cli").string()) + " --set outputType=4 " +
                           Quote(source.string()));
  EXPECT_EQ(ape.status, 0) << ape.err;
  EXPECT_EQ(ProbeStream(source.parent_path() / "a.ape"), "ape|8000|1|0");
}

}  // namespace
