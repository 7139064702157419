// JsonArchive: the data binding between the IPC records and JSON text.
//
// An archive holds one document and a stack of entered members; each value
// step reads or writes the current member (the last one entered). Every
// value travels as a JSON string: numbers as decimal text, wide strings as
// UTF-8. Steps return 0 or one of the VEX_E_ARCHIVE_ codes; on failure the
// destination keeps its value.
//
// Ownership and threads: an archive owns its document and is used by one
// thread; frames point into the document and live as long as it does.
// Only exhausted memory raises an exception.
//
// A document read from text may carry secrets (a request's password): the
// string values of its tree are wiped before the tree is released (when
// the archive is destroyed or reads again). What jsoncpp's reader copies
// on its own while it parses is beyond the archive's reach.
#ifndef HV_IPC_JSON_ARCHIVE_H_
#define HV_IPC_JSON_ARCHIVE_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/wide.h"

namespace hv {

constexpr int32_t VEX_E_ARCHIVE_PARSE = static_cast<int32_t>(0xE0070021);
constexpr int32_t VEX_E_ARCHIVE_NO_NODE = static_cast<int32_t>(0xE0070025);
constexpr int32_t VEX_E_ARCHIVE_NO_ROOT = static_cast<int32_t>(0xE0070026);
constexpr int32_t VEX_E_ARCHIVE_NOT_STRING = static_cast<int32_t>(0xE0070027);
constexpr int32_t VEX_E_ARCHIVE_CONVERT = static_cast<int32_t>(0xE0070028);
constexpr int32_t VEX_E_ARCHIVE_ROOT_NAME = static_cast<int32_t>(0xE007002A);
constexpr int32_t VEX_E_ARCHIVE_NO_FRAME = static_cast<int32_t>(0xE007002E);

enum ArchiveMode { kArchiveRead = 0, kArchiveWrite = 1 };

// An entered member: its node only (the walk needs no name once entered,
// and copying one per step was a tenth of a request's cost).
struct ArchiveFrame {
  Json::Value* node;  // null when the member is absent
};

class JsonArchive {
 public:
  JsonArchive() = default;
  ~JsonArchive();
  JsonArchive(const JsonArchive&) = delete;
  JsonArchive& operator=(const JsonArchive&) = delete;

  // Parses NUL-terminated UTF-8 text (comments allowed) and enters the
  // top-level member whose name sorts first.
  int32_t OpenForRead(const char* text);
  // Starts the document {"root": null} and enters "root". Returns 0.
  int32_t OpenForWrite();

  // Never fails by itself: an absent member shows at the next value step.
  void EnterMember(std::string_view name, ArchiveMode mode);
  void LeaveMember();
  int32_t CurrentNode() const;

  int32_t ReadInt32(int32_t* value);
  int32_t WriteInt32(int32_t value);
  int32_t ReadUInt32(uint32_t* value);
  int32_t WriteUInt32(uint32_t value);
  int32_t ReadWide(WString* value);
  int32_t WriteWide(const WString& value);
  int32_t ReadNarrow(std::string* value);
  int32_t WriteNarrow(const std::string& value);

  // The document as Json::StyledWriter lays it out.
  std::string Render() const;

 private:
  int32_t EnterBase();
  // The current node when it holds a JSON string, else the failure code.
  int32_t StringNode(const Json::Value** node) const;
  int32_t Store(Json::Value value);
  template <typename T>
  int32_t StoreNumber(T value);

  // Frames the records of this system need at most, kept without growing.
  static constexpr size_t kTypicalDepth = 8;

  // Wipes the string values of a tree that was read from text, then
  // releases it.
  void ReleaseDocument();

  Json::Value root_;
  std::vector<ArchiveFrame> stack_;
  bool read_ = false;  // root_ came from text
};

// Enters each "/"-separated component of a path for its lifetime.
class ArchivePathScope {
 public:
  ArchivePathScope(JsonArchive& archive, const std::string& path, ArchiveMode mode);
  ~ArchivePathScope();
  ArchivePathScope(const ArchivePathScope&) = delete;
  ArchivePathScope& operator=(const ArchivePathScope&) = delete;

 private:
  JsonArchive& archive_;
  size_t entered_ = 0;
};

}  // namespace hv

#endif  // HV_IPC_JSON_ARCHIVE_H_
