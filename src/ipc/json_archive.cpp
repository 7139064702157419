#include "ipc/json_archive.h"

#include <json/reader.h>
#include <json/writer.h>

#include <charconv>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>

#include "base/ascii.h"
#include "base/barrier.h"
#include "base/utf.h"
#include "platform/memory.h"

namespace hv {
namespace {

// The text of a string node, read in place rather than copied.
std::string_view StringOf(const Json::Value& node) {
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!node.getString(&begin, &end)) return std::string_view();
  return std::string_view(begin, static_cast<size_t>(end - begin));
}

// Conversions with the rules of the standard stream extraction and
// insertion in the classic locale, without building a stream per value:
// leading white space is skipped, a sign is taken ("-" negates an unsigned
// value modulo 2^32, as extraction does), digits run to the first other
// character, no digits or a value out of range fail.
template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  size_t i = 0;
  while (i < text.size() && IsSpaceAscii(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned long long magnitude = 0;
  // Saturating far above both ranges: anything that large fails below.
  if (ReadDigits(text, &i, uint64_t{1} << 33, &magnitude) == 0) return false;
  if (std::is_signed<T>::value) {
    uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) return false;
    *value = static_cast<T>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
  } else {
    if (magnitude > 0xFFFFFFFFu) return false;
    *value = static_cast<T>(negative ? (0 - magnitude) & 0xFFFFFFFFu : magnitude);
  }
  return true;
}



// Overwrites every string value of `node` and its members in place.
// Depth is bounded by the reader's own nesting limit.
void WipeStringValues(Json::Value& node) {
  if (node.isString()) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (node.getString(&begin, &end) && end > begin) {
      platform::Wipe("request document", const_cast<char*>(begin), static_cast<size_t>(end - begin));
    }
  } else if (node.isObject() || node.isArray()) {
    for (Json::Value& member : node) WipeStringValues(member);
  }
}

}  // namespace

JsonArchive::~JsonArchive() { ReleaseDocument(); }

void JsonArchive::ReleaseDocument() {
  stack_.clear();
  if (read_) WipeStringValues(root_);
  read_ = false;
  root_ = Json::Value();
}

// Json::Reader and Json::StyledWriter are marked deprecated by jsoncpp;
// they stay, because the documents' layout is theirs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

int32_t JsonArchive::OpenForRead(const char* text) {
  ReleaseDocument();
  stack_.reserve(kTypicalDepth);
  if (text == nullptr) return VEX_E_ARCHIVE_PARSE;
  read_ = true;  // whatever part of the tree gets built
  try {
    Json::Reader reader;
    if (!reader.parse(text, text + std::strlen(text), root_, false)) {
      ReleaseDocument();
      return VEX_E_ARCHIVE_PARSE;
    }
  } catch (const std::exception& e) {
    // Exhausted memory goes on to the barrier; anything else jsoncpp
    // throws (past its nesting limit, among other things) is a document
    // it cannot read. Either way the tree built so far is wiped.
    ReleaseDocument();
    if (IsExhaustedMemory(e)) throw;
    return VEX_E_ARCHIVE_PARSE;
  }
  return EnterBase();
}

std::string JsonArchive::Render() const {
  Json::StyledWriter writer;
  return writer.write(root_);
}

#pragma GCC diagnostic pop

int32_t JsonArchive::OpenForWrite() {
  ReleaseDocument();
  stack_.reserve(kTypicalDepth);
  root_ = Json::Value(Json::objectValue);
  root_["root"] = Json::Value();
  return EnterBase();
}

int32_t JsonArchive::EnterBase() {
  if (!root_.isObject() || root_.empty()) return VEX_E_ARCHIVE_NO_ROOT;
  auto first = root_.begin();  // members are kept in ascending byte order
  stack_.push_back({&*first});
  return 0;
}

void JsonArchive::EnterMember(std::string_view name, ArchiveMode mode) {
  Json::Value* parent = stack_.empty() ? nullptr : stack_.back().node;
  Json::Value* node = nullptr;
  if (parent != nullptr && (parent->isObject() || parent->isNull())) {
    if (mode == kArchiveWrite) {
      node = parent->demand(name.data(), name.data() + name.size());
    } else if (parent->isObject()) {
      // One lookup that never adds a member; a read frame is only read.
      node = const_cast<Json::Value*>(parent->find(name.data(), name.data() + name.size()));
    }
  }
  stack_.push_back({node});
}

void JsonArchive::LeaveMember() {
  if (!stack_.empty()) stack_.pop_back();
}

int32_t JsonArchive::CurrentNode() const {
  if (stack_.empty()) return VEX_E_ARCHIVE_NO_FRAME;
  if (stack_.back().node == nullptr) return VEX_E_ARCHIVE_NO_NODE;
  return 0;
}

int32_t JsonArchive::StringNode(const Json::Value** node) const {
  int32_t rc = CurrentNode();
  if (rc != 0) return rc;
  if (!stack_.back().node->isString()) return VEX_E_ARCHIVE_NOT_STRING;
  *node = stack_.back().node;
  return 0;
}

int32_t JsonArchive::Store(Json::Value value) {
  int32_t rc = CurrentNode();
  if (rc != 0) return rc;
  *stack_.back().node = std::move(value);
  return 0;
}

int32_t JsonArchive::ReadInt32(int32_t* value) {
  const Json::Value* node = nullptr;
  int32_t rc = StringNode(&node);
  if (rc != 0) return rc;
  return ParseNumber(StringOf(*node), value) ? 0 : VEX_E_ARCHIVE_CONVERT;
}

int32_t JsonArchive::ReadUInt32(uint32_t* value) {
  const Json::Value* node = nullptr;
  int32_t rc = StringNode(&node);
  if (rc != 0) return rc;
  return ParseNumber(StringOf(*node), value) ? 0 : VEX_E_ARCHIVE_CONVERT;
}

int32_t JsonArchive::WriteInt32(int32_t value) {
  int32_t rc = CurrentNode();
  if (rc != 0) return rc;
  return StoreNumber(value);
}

int32_t JsonArchive::WriteUInt32(uint32_t value) {
  int32_t rc = CurrentNode();
  if (rc != 0) return rc;
  return StoreNumber(value);
}

template <typename T>
int32_t JsonArchive::StoreNumber(T value) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  if (result.ec != std::errc()) return VEX_E_ARCHIVE_CONVERT;
  return Store(Json::Value(static_cast<const char*>(digits), static_cast<const char*>(result.ptr)));
}

int32_t JsonArchive::ReadWide(WString* value) {
  const Json::Value* node = nullptr;
  int32_t rc = StringNode(&node);
  if (rc != 0) return rc;
  // Converted from the node in place: no copy of a password is made.
  *value = Utf8ToWide(UpToNulView(StringOf(*node)));
  return 0;
}

int32_t JsonArchive::WriteWide(const WString& value) {
  return Store(Json::Value(WideToUtf8(UpToNul(value))));
}

int32_t JsonArchive::ReadNarrow(std::string* value) {
  const Json::Value* node = nullptr;
  int32_t rc = StringNode(&node);
  if (rc != 0) return rc;
  *value = UpToNul(StringOf(*node));
  return 0;
}

int32_t JsonArchive::WriteNarrow(const std::string& value) {
  return Store(Json::Value(UpToNul(value)));
}

ArchivePathScope::ArchivePathScope(JsonArchive& archive, const std::string& path,
                                   ArchiveMode mode)
    : archive_(archive) {
  std::string_view rest(path);
  size_t start = 0;
  while (start < rest.size()) {
    size_t slash = rest.find('/', start);
    if (slash == std::string_view::npos) slash = rest.size();
    archive_.EnterMember(rest.substr(start, slash - start), mode);
    ++entered_;
    start = slash + 1;
  }
}

ArchivePathScope::~ArchivePathScope() {
  for (size_t i = 0; i < entered_; ++i) archive_.LeaveMember();
}

}  // namespace hv
