// The fields of a labelled record, as dump --labels and crash print them:
// text as key=value, JSON as members after "offset", "depth" and "kind".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tracereader/records.h"

namespace proftrace {

struct Field {
  enum Type { kNumber, kText, kFlag };
  Field(const char* k, uint64_t n) : key(k), jsonKey(k), type(kNumber), number(n) {}
  Field(const char* k, bool b) : key(k), jsonKey(k), type(kFlag), number(b ? 1 : 0) {}
  Field(const char* k, std::string t) : key(k), jsonKey(k), type(kText), text(std::move(t)) {}
  // A field whose text name would repeat a key of the JSON record object.
  Field(const char* k, const char* json, uint64_t n) : key(k), jsonKey(json), type(kNumber), number(n) {}
  const char* key;
  const char* jsonKey;  // every key of a JSON record is distinct from "offset", "depth" and "kind"
  Type type;
  uint64_t number = 0;
  std::string text;
};

std::vector<Field> fieldsOf(const tracereader::Record& r);
void printFieldsText(std::FILE* out, const std::vector<Field>& fields);
void printFieldsJson(std::FILE* out, const std::vector<Field>& fields);
// One record: its text line (with the given indent) or its JSON object.
void printRecordText(std::FILE* out, const tracereader::Record& r, const char* indent);
void printRecordJson(std::FILE* out, const tracereader::Record& r);

}  // namespace proftrace
