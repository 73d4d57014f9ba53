#include "test_folder.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace platform {
void PrintTo(const Rgb& color, std::ostream* out) {
  *out << "RGB(" << int{color.red} << ", " << int{color.green} << ", "
       << int{color.blue} << ")";
}
}  // namespace platform

namespace testing_support {

TempFolder::TempFolder() {
  std::random_device device;
  std::mt19937_64 random(
      device() ^
      static_cast<std::uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "larkspire-test-" << std::hex << random();
    path_ = fs::temp_directory_path() / name.str();
    if (fs::create_directory(path_)) return;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path MakeFolderOfLength(const fs::path& base, std::size_t length) {
  fs::path folder = base;
  // Leave room for a last name of at least one character.
  while (folder.string().size() + 1 + 100 + 2 <= length)
    folder /= std::string(100, 'd');
  const std::size_t rest = length - folder.string().size() - 1;
  folder /= std::string(rest, 'x');
  fs::create_directories(folder);
  return folder;
}

void WriteTextFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

DecoderLog ReadDecoderLog(const fs::path& path) {
  DecoderLog log;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "OVERLAP") {
      ++log.overlaps;
      continue;
    }
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() < 2 || fields[0] != "run")
      throw std::runtime_error("stand-in log line: " + line);
    const std::size_t argc = std::stoul(fields[1]);
    DecoderRun run;
    run.argv.assign(fields.begin() + 2, fields.begin() + 2 + argc);
    if (fields.size() == 2 + argc + 2 && fields[2 + argc] == "cmdline")
      run.commandLine = fields[3 + argc];
    log.runs.push_back(run);
  }
  return log;
}

void PrintTo(const Shown& shown, std::ostream* out) {
  *out << "{\"" << shown.status << "\" ";
  platform::PrintTo(shown.color, out);
  *out << " \"" << shown.percent << "\" " << shown.bar << "}";
}

BatchFixture::BatchFixture() : audio_(root_.path() / "audio") {
  fs::create_directory(audio_);
  SetEnvironment("STANDIN_LOG", LogPath().string());
  platform::headless::Reset();
}

BatchFixture::~BatchFixture() {
  platform::headless::Reset();
  SetEnvironment("STANDIN_LOG", "");
}

void BatchFixture::Add(const std::string& name, const std::string& text) {
  WriteTextFile(audio_ / name, text);
}

basFunctions::BatchSetup BatchFixture::Setup() const {
  return {audio_.string(), LARKSPIRE_STANDIN_DECODER, platform::kPathSeparator};
}

std::string BatchFixture::Folder() const {
  return basFunctions::GetShortPath(audio_.string());
}

std::string BatchFixture::PathOf(const std::string& name) const {
  return Folder() + platform::kPathSeparator + name;
}

BatchResult BatchFixture::Run(const basFunctions::BatchSetup& setup,
                              const std::function<void(frmMain&)>& onPump) {
  BatchResult result;
  frmMain form;
  const auto note = [&form] {
    return Shown{form.lblStatus.Caption(), form.lblStatus.ForeColor(),
                 form.lblPercent.Caption(), form.pbProgress.Value()};
  };
  platform::headless::SetPumpHook([&] {
    const Shown now = note();
    if (result.atPumps.empty() || !(result.atPumps.back() == now))
      result.atPumps.push_back(now);
    if (onPump) onPump(form);
  });
  const auto start = std::chrono::steady_clock::now();
  basFunctions::Main(form, setup);
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  platform::headless::SetPumpHook(nullptr);
  result.log = form.txtLog.Text();
  result.last = note();
  result.decoder = ReadDecoderLog(LogPath());
  return result;
}

std::string JoinLog(const std::vector<std::string>& messages) {
  std::string log;
  for (std::size_t i = 0; i < messages.size(); ++i)
    log += (i == 0 ? "" : "\r\n") + messages[i];
  return log;
}

std::string Percent(const std::string& whole, const std::string& tenth) {
  return "Progress: " + whole +
         (tenth.empty() ? "" : platform::DecimalSeparator() + tenth) + "%";
}

}  // namespace testing_support
