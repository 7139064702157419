// The record codec pattern: each record declares its fields once, as a
// list of (JSON member name, member pointer) pairs, and one walker reads or
// writes any record from that list.
//
// For each field in declaration order the walker enters the field's
// member, runs the value step of the field's type, and leaves the member;
// the first failing step ends the walk with its code, so later fields are
// left alone. A field whose type is itself a record is walked the same way.
//
// Adding a record costs one specialisation:
//   template <> struct RecordFields<MyRecord> {
//     static constexpr auto List() {
//       return std::make_tuple(Field("Name", &MyRecord::name));
//     }
//   };
#ifndef HV_IPC_RECORD_CODEC_H_
#define HV_IPC_RECORD_CODEC_H_

#include <cstdint>
#include <string>
#include <tuple>

#include "base/wide.h"
#include "ipc/json_archive.h"

namespace hv {

template <class Record>
struct RecordFields;  // specialised once per record

template <class Record, class T>
struct FieldDef {
  const char* name;
  T Record::*member;
};

template <class Record, class T>
constexpr FieldDef<Record, T> Field(const char* name, T Record::*member) {
  return {name, member};
}

// Value steps by field type.
inline int32_t CodeValue(JsonArchive& a, ArchiveMode mode, int32_t& v) {
  return mode == kArchiveRead ? a.ReadInt32(&v) : a.WriteInt32(v);
}
inline int32_t CodeValue(JsonArchive& a, ArchiveMode mode, uint32_t& v) {
  return mode == kArchiveRead ? a.ReadUInt32(&v) : a.WriteUInt32(v);
}
inline int32_t CodeValue(JsonArchive& a, ArchiveMode mode, WString& v) {
  return mode == kArchiveRead ? a.ReadWide(&v) : a.WriteWide(v);
}
inline int32_t CodeValue(JsonArchive& a, ArchiveMode mode, std::string& v) {
  return mode == kArchiveRead ? a.ReadNarrow(&v) : a.WriteNarrow(v);
}

template <class Record>
int32_t CodeRecord(JsonArchive& archive, ArchiveMode mode, Record& record);

// A nested record.
template <class Record, class = decltype(RecordFields<Record>::List())>
int32_t CodeValue(JsonArchive& a, ArchiveMode mode, Record& record) {
  return CodeRecord(a, mode, record);
}

template <class Record, class T>
int32_t CodeField(JsonArchive& archive, ArchiveMode mode, Record& record,
                  const FieldDef<Record, T>& field) {
  archive.EnterMember(field.name, mode);
  int32_t rc = CodeValue(archive, mode, record.*field.member);
  archive.LeaveMember();
  return rc;
}

template <class Record>
int32_t CodeRecord(JsonArchive& archive, ArchiveMode mode, Record& record) {
  int32_t rc = 0;
  std::apply(
      [&](const auto&... fields) {
        ((rc = rc != 0 ? rc : CodeField(archive, mode, record, fields)), ...);
      },
      RecordFields<Record>::List());
  return rc;
}

}  // namespace hv

#endif  // HV_IPC_RECORD_CODEC_H_
