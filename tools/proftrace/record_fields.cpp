// The fields of each record kind, for text and JSON.
#include "record_fields.h"

#include "output.h"

namespace proftrace {

using tracereader::Record;
using tracereader::RecordKind;

std::vector<Field> fieldsOf(const Record& r) {
  std::vector<Field> f;
  const auto name = [&](const char* key, std::string_view n) {
    if (!n.empty()) f.emplace_back(key, std::string(n));
  };
  switch (r.kind) {
    case RecordKind::kHeader:
      f.emplace_back("version", r.value);
      f.emplace_back("accesses", r.traceAccesses);
      f.emplace_back("allocations", r.traceAllocations);
      break;
    case RecordKind::kEntry:
      f.emplace_back("function", r.id);
      name("name", r.function);
      f.emplace_back("caller", r.value);
      break;
    case RecordKind::kExit:
    case RecordKind::kUnwind:
    case RecordKind::kExitWithValue:
      if (r.id != 0 || !r.function.empty()) f.emplace_back("function", r.id);
      name("name", r.function);
      if (r.kind == RecordKind::kExitWithValue) f.emplace_back("value", r.value);
      break;
    case RecordKind::kUnwindStop: f.emplace_back("location", r.value); break;
    case RecordKind::kVla: f.emplace_back("size", r.value); break;
    case RecordKind::kHeapAlloc:
    case RecordKind::kHeapRealloc:
      f.emplace_back("block", r.id);
      f.emplace_back("size", r.value);
      f.emplace_back("address", r.address);
      break;
    case RecordKind::kHeapFree:
      f.emplace_back("block", r.id);
      f.emplace_back("size", r.value);
      break;
    case RecordKind::kThreadCreate:
    case RecordKind::kThreadJoin:
    case RecordKind::kThreadNameNull: f.emplace_back("thread", r.id); break;
    case RecordKind::kThreadName:
      f.emplace_back("thread", r.id);
      f.emplace_back("length", r.value);
      f.emplace_back("name", r.text);
      break;
    case RecordKind::kLocalAccess:
    case RecordKind::kGlobalAccess:
    case RecordKind::kOuterAccess:
    case RecordKind::kHeapAccess:
    case RecordKind::kRemoteAccess:
      f.emplace_back(r.kind == RecordKind::kHeapAccess ? "block" : "variable", r.id);
      name("name", r.variable);
      if (r.kind == RecordKind::kOuterAccess) f.emplace_back("frame", r.frame);
      if (r.kind == RecordKind::kRemoteAccess) f.emplace_back("function", r.frame);
      if (r.kind == RecordKind::kLocalAccess || r.kind == RecordKind::kOuterAccess || r.kind == RecordKind::kRemoteAccess)
        name("in", r.function);
      if (r.kind == RecordKind::kRemoteAccess) f.emplace_back("thread", r.thread);
      // The text line shows the record's own offset in a column; JSON has
      // it under "offset", so the offset inside the variable is named apart.
      f.emplace_back("offset", "accessOffset", r.value);
      if (r.hasBlockSize) f.emplace_back("blocksize", r.blockSize);
      name("direction", tracereader::accessDirectionName(r.direction));  // access mode 2 only
      break;
  }
  return f;
}

void printFieldsText(std::FILE* out, const std::vector<Field>& fields) {
  for (const Field& f : fields) {
    if (f.type == Field::kNumber) {
      std::fprintf(out, " %s=%llu", f.key, static_cast<unsigned long long>(f.number));
    } else if (f.type == Field::kFlag) {
      std::fprintf(out, " %s=%s", f.key, f.number != 0 ? "on" : "off");
    } else {
      std::fprintf(out, " %s=\"%s\"", f.key, printable(f.text).c_str());
    }
  }
}

void printFieldsJson(std::FILE* out, const std::vector<Field>& fields) {
  for (const Field& f : fields) {
    if (f.type == Field::kNumber) {
      std::fprintf(out, ",\"%s\":%llu", f.jsonKey, static_cast<unsigned long long>(f.number));
    } else if (f.type == Field::kFlag) {
      std::fprintf(out, ",\"%s\":%s", f.jsonKey, f.number != 0 ? "true" : "false");
    } else {
      std::fprintf(out, ",\"%s\":%s", f.jsonKey, jsonString(f.text).c_str());
    }
  }
}

void printRecordText(std::FILE* out, const Record& r, const char* indent) {
  std::fprintf(out, "%s%8llu %5u %s", indent, static_cast<unsigned long long>(r.offset), r.depth,
               tracereader::recordKindName(r.kind));
  printFieldsText(out, fieldsOf(r));
  std::fputc('\n', out);
}

void printRecordJson(std::FILE* out, const Record& r) {
  std::fprintf(out, "{\"offset\":%llu,\"depth\":%u,\"kind\":\"%s\"", static_cast<unsigned long long>(r.offset), r.depth,
               tracereader::recordKindName(r.kind));
  printFieldsJson(out, fieldsOf(r));
  std::fputc('}', out);
}

}  // namespace proftrace
