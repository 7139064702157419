// See certificate_rules.h.
#include "http/certificate_rules.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/ascii.h"

namespace hv {
namespace {

// One DER element at a time out of a span of bytes.
class DerReader {
 public:
  explicit DerReader(std::string_view bytes) : rest_(bytes) {}
  bool empty() const { return rest_.empty(); }
  // The next element's tag and content; false (and nothing left to read)
  // when it does not decode: indefinite or oversized lengths, truncation.
  bool Next(unsigned char* tag, std::string_view* content) {
    if (rest_.size() < 2) return Fail();
    *tag = static_cast<unsigned char>(rest_[0]);
    size_t length = static_cast<unsigned char>(rest_[1]);
    size_t at = 2;
    if (length & 0x80) {
      size_t count = length & 0x7F;
      if (count == 0 || count > 3 || rest_.size() < at + count) return Fail();
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(rest_[at++]);
    }
    if (rest_.size() - at < length) return Fail();
    *content = rest_.substr(at, length);
    rest_.remove_prefix(at + length);
    return true;
  }
  // The content of the next element, which must have `tag`.
  bool Expect(unsigned char tag, std::string_view* content) {
    unsigned char found = 0;
    return Next(&found, content) && (found == tag || Fail());
  }

 private:
  bool Fail() {
    rest_ = std::string_view();
    return false;
  }
  std::string_view rest_;
};

constexpr unsigned char kSequence = 0x30, kOid = 0x06;
constexpr unsigned char kDnsName = 0x82, kIpAddress = 0x87;  // GeneralName [2] and [7], implicit

// Object identifiers by their DER content.
constexpr std::string_view kServerAuth("\x2B\x06\x01\x05\x05\x07\x03\x01", 8);  // 1.3.6.1.5.5.7.3.1
constexpr std::string_view kAnyUsage("\x55\x1D\x25\x00", 4);                     // 2.5.29.37.0
constexpr std::string_view kMgf1("\x2A\x86\x48\x86\xF7\x0D\x01\x01\x08", 9);     // 1.2.840.113549.1.1.8
constexpr std::string_view kSha1("\x2B\x0E\x03\x02\x1A", 5);                     // 1.3.14.3.2.26

bool WeakHash(std::string_view oid) {
  // md2, md4, md5: 1.2.840.113549.2.2, .4, .5
  constexpr std::string_view kMdPrefix("\x2A\x86\x48\x86\xF7\x0D\x02", 7);
  if (oid.size() == 8 && oid.substr(0, 7) == kMdPrefix) return oid[7] == 2 || oid[7] == 4 || oid[7] == 5;
  return oid == kSha1;
}

struct Names {
  std::vector<std::string_view> dns;
  std::vector<std::string_view> ip;
  bool other = false;  // a form neither DNS nor IP
};

// Appends one GeneralName (tag, content) to `names`.
void Add(unsigned char tag, std::string_view content, Names* names) {
  if (tag == kDnsName) {
    names->dns.push_back(content);
  } else if (tag == kIpAddress) {
    names->ip.push_back(content);
  } else {
    names->other = true;
  }
}

// GeneralSubtrees: each a SEQUENCE whose first element is the base name.
bool ReadSubtrees(std::string_view der, Names* names) {
  DerReader subtrees(der);
  while (!subtrees.empty()) {
    std::string_view subtree, base;
    unsigned char tag = 0;
    if (!subtrees.Expect(kSequence, &subtree)) return false;
    DerReader fields(subtree);
    if (!fields.Next(&tag, &base)) return false;
    Add(tag, base, names);
  }
  return true;
}

bool EndsWith(std::string_view name, std::string_view suffix) {
  return suffix.size() <= name.size() && EqualsIgnoreCase(name.substr(name.size() - suffix.size()), suffix);
}

bool DnsWithin(std::string_view name, std::string_view constraint) {
  if (constraint.empty()) return true;
  if (constraint.front() == '.') return name.size() > constraint.size() && EndsWith(name, constraint);
  if (name.size() == constraint.size()) return EndsWith(name, constraint);
  return name.size() > constraint.size() && EndsWith(name, constraint) &&
         name[name.size() - constraint.size() - 1] == '.';
}

bool IpWithin(std::string_view address, std::string_view constraint) {
  if (constraint.size() != 2 * address.size()) return false;
  for (size_t i = 0; i < address.size(); ++i) {
    auto mask = static_cast<unsigned char>(constraint[address.size() + i]);
    if ((static_cast<unsigned char>(address[i]) & mask) != (static_cast<unsigned char>(constraint[i]) & mask)) {
      return false;
    }
  }
  return true;
}

template <class Within>
bool AnyWithin(std::string_view name, const std::vector<std::string_view>& constraints, Within within) {
  for (std::string_view constraint : constraints) {
    if (within(name, constraint)) return true;
  }
  return false;
}

// Every name of one form permitted (when the form is constrained at all)
// and none excluded.
template <class Within>
bool FormSatisfied(const std::vector<std::string_view>& names, const std::vector<std::string_view>& permitted,
                   const std::vector<std::string_view>& excluded, Within within) {
  for (std::string_view name : names) {
    if (!permitted.empty() && !AnyWithin(name, permitted, within)) return false;
    if (AnyWithin(name, excluded, within)) return false;
  }
  return true;
}

}  // namespace

bool UsageAllowsServer(const std::string& der) {
  if (der.empty()) return true;
  DerReader outer(der);
  std::string_view usages, oid;
  if (!outer.Expect(kSequence, &usages)) return false;
  for (DerReader reader(usages); reader.Expect(kOid, &oid);) {
    if (oid == kServerAuth || oid == kAnyUsage) return true;
  }
  return false;
}

bool PssHashIsWeak(const std::string& der) {
  std::string_view hash = kSha1, mask_hash = kSha1;
  std::string_view parameters, field;
  DerReader outer(der);
  if (!der.empty() && !outer.Expect(kSequence, &parameters)) return true;
  DerReader fields(parameters);
  for (unsigned char tag = 0; fields.Next(&tag, &field);) {
    std::string_view algorithm, mask_parameters, inner;
    if (tag != 0xA0 && tag != 0xA1) continue;  // salt length, trailer field
    if (!DerReader(field).Expect(kSequence, &algorithm)) return true;
    DerReader parts(algorithm);
    std::string_view oid;
    if (!parts.Expect(kOid, &oid)) return true;
    if (tag == 0xA0) {
      hash = oid;
      continue;
    }
    // MGF1, whose parameter is the AlgorithmIdentifier of its hash.
    if (oid != kMgf1 || !parts.Expect(kSequence, &mask_parameters) ||
        !DerReader(mask_parameters).Expect(kOid, &inner)) {
      return true;
    }
    mask_hash = inner;
  }
  return WeakHash(hash) || WeakHash(mask_hash);
}

NameConstraint CheckNameConstraints(const std::string& constraints, bool critical, const std::string& alt_names) {
  if (constraints.empty()) return NameConstraint::kSatisfied;
  Names permitted, excluded, names;
  std::string_view body, part;
  DerReader outer(constraints);
  if (!outer.Expect(kSequence, &body)) return NameConstraint::kViolated;
  DerReader parts(body);
  for (unsigned char tag = 0; !parts.empty();) {
    if (!parts.Next(&tag, &part) || (tag != 0xA0 && tag != 0xA1) ||
        !ReadSubtrees(part, tag == 0xA0 ? &permitted : &excluded)) {
      return NameConstraint::kViolated;
    }
  }
  if (critical && (permitted.other || excluded.other)) return NameConstraint::kUnhandled;
  if (!alt_names.empty()) {
    DerReader san(alt_names);
    std::string_view entries, content;
    if (!san.Expect(kSequence, &entries)) return NameConstraint::kViolated;
    DerReader reader(entries);
    for (unsigned char tag = 0; !reader.empty();) {
      if (!reader.Next(&tag, &content)) return NameConstraint::kViolated;
      Add(tag, content, &names);
    }
  }
  bool ok = FormSatisfied(names.dns, permitted.dns, excluded.dns, DnsWithin) &&
            FormSatisfied(names.ip, permitted.ip, excluded.ip, IpWithin);
  return ok ? NameConstraint::kSatisfied : NameConstraint::kViolated;
}

}  // namespace hv
