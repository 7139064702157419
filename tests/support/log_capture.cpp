#include "tests/support/log_capture.h"

#include <cctype>

#include "log/logger.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace hv::testing {

namespace {

const std::filesystem::path& ModuleLogFile() {
  struct TestLog {
    TempDir dir;
    std::filesystem::path file = dir.File("verifylog.txt");
    HvLogger writer{ToWide(file)};
    TestLog() { SetVerifyLog(&writer); }
    ~TestLog() { SetVerifyLog(nullptr); }
  };
  static TestLog log;
  return log.file;
}

std::filesystem::path EarlierGeneration(const std::filesystem::path& file) {
  return file.parent_path() / (file.stem().string() + ".1" + file.extension().string());
}

}  // namespace

LogCapture::LogCapture() : LogCapture(ModuleLogFile()) {}

LogCapture::LogCapture(std::filesystem::path file) : file_(std::move(file)) {
  std::error_code ec;
  auto size = std::filesystem::file_size(file_, ec);
  start_ = ec ? 0 : size;
  earlier_ = ReadFileBytes(EarlierGeneration(file_));
}

std::vector<std::string> LogCapture::Lines() const {
  std::string bytes = ReadFileBytes(file_);
  std::string earlier = ReadFileBytes(EarlierGeneration(file_));
  if (earlier != earlier_) {  // restarted since: the capture began in that file
    bytes = (start_ <= earlier.size() ? earlier.substr(start_) : std::string()) + bytes;
  } else {
    bytes = start_ <= bytes.size() ? bytes.substr(start_) : bytes;
  }
  const std::string end = platform::TextLineEnd();
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t next; (next = bytes.find(end, at)) != std::string::npos; at = next + end.size()) {
    lines.push_back(bytes.substr(at, next - at));
  }
  return lines;
}

bool HasLogPrefix(const std::string& line) {
  const char* shape = "dddd-dd-dd dd:dd:dd|dddddddd| ";
  size_t n = std::char_traits<char>::length(shape);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                              : line[i] == shape[i];
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& line : Lines()) {
    messages.push_back(HasLogPrefix(line) ? line.substr(30) : "<malformed> " + line);
  }
  return messages;
}

}  // namespace hv::testing
